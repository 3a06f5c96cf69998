#include "pipeline/title.h"

#include <cstdint>

namespace pelta {

const char FILTER_NAME[] = "pelta";

namespace {

// Appends to a fixed buffer, dropping what does not fit; one byte is always
// kept for the terminating NUL.
struct TitleWriter {
    char* buf;
    size_t size;
    size_t len;

    void put(char c) {
        if (len + 1 < size) buf[len++] = c;
    }
    void put(const char* s) {
        while (*s) put(*s++);
    }
    // Plain signed decimal; the magnitude is taken in unsigned arithmetic so
    // INT_MIN prints correctly.
    void put_int(int v) {
        uint32_t mag = static_cast<uint32_t>(v);
        if (v < 0) {
            put('-');
            mag = 0u - mag;
        }
        char digits[10];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + mag % 10);
            mag /= 10;
        } while (mag);
        while (n) put(digits[--n]);
    }
};

}  // namespace

size_t format_title(char* buf, size_t size, const char* name, int match, int comb, int comb_th) {
    TitleWriter t{buf, size, 0};
    t.put(name);
    t.put(" num:");
    t.put_int(match);
    t.put(" comb:");
    t.put_int(comb);
    t.put(" comb_th:");
    t.put_int(comb_th);
    buf[t.len] = '\0';
    return t.len;
}

}  // namespace pelta
