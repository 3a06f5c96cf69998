// Native stand-in for the Windows title and heap calls. Fixed-size state only:
// it runs inside the per-frame path and must not allocate there.
#include <cstdlib>
#include <cstring>

#include "native/platform_native.h"

namespace {

int heap_fail_skip = -1;
int heap_live = 0;
long heap_allocs = 0;
long heap_frees = 0;
char heap_token;  // the "process heap" handle: any stable non-null address

constexpr int kWindows = 8;
constexpr int kTextBytes = 512;
struct WindowText {
    HWND hwnd;
    bool used;
    char text[kTextBytes];
};
WindowText windows[kWindows];
int next_evict = 0;
long text_calls = 0;

}  // namespace

HANDLE GetProcessHeap(void) { return &heap_token; }

void* HeapAlloc(HANDLE heap, DWORD flags, size_t bytes) {
    (void)flags;
    if (heap != &heap_token) return nullptr;
    if (heap_fail_skip == 0) {
        heap_fail_skip = -1;
        return nullptr;
    }
    if (heap_fail_skip > 0) --heap_fail_skip;
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block) {
        ++heap_live;
        ++heap_allocs;
    }
    return block;
}

BOOL HeapFree(HANDLE heap, DWORD flags, void* block) {
    (void)flags;
    if (heap != &heap_token || !block) return FALSE;
    std::free(block);
    --heap_live;
    ++heap_frees;
    return TRUE;
}

BOOL SetWindowTextA(HWND hwnd, const char* text) {
    ++text_calls;
    WindowText* slot = nullptr;
    for (WindowText& w : windows)
        if (w.used && w.hwnd == hwnd) slot = &w;
    if (!slot)
        for (WindowText& w : windows)
            if (!w.used && !slot) slot = &w;
    if (!slot) {
        slot = &windows[next_evict];
        next_evict = (next_evict + 1) % kWindows;
    }
    slot->used = true;
    slot->hwnd = hwnd;
    std::strncpy(slot->text, text ? text : "", kTextBytes - 1);
    slot->text[kTextBytes - 1] = '\0';
    return TRUE;
}

void native_heap_fail_after(int skip) { heap_fail_skip = skip < 0 ? -1 : skip; }
int native_heap_live_blocks(void) { return heap_live; }
long native_heap_alloc_count(void) { return heap_allocs; }
long native_heap_free_count(void) { return heap_frees; }

const char* native_window_text(HWND hwnd) {
    for (const WindowText& w : windows)
        if (w.used && w.hwnd == hwnd) return w.text;
    return nullptr;
}

long native_window_text_calls(void) { return text_calls; }

void native_window_text_reset(void) {
    for (WindowText& w : windows) w.used = false;
    next_evict = 0;
}
