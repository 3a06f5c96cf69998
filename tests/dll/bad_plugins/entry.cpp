// The entry point of each test DLL: loading it needs no work.
extern "C" int __attribute__((stdcall)) DllEntry(void* instance, unsigned long reason, void* reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return 1;
}
