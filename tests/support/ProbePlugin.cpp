/*
 * ProbePlugin: a library that leaves the file "qvprobe-loaded" in the current folder as
 * it is loaded. Planted where a program must never load a library from, it shows whether
 * the program did.
 */
#include <cstdio>

static const bool g_marked = [] {
    FILE *marker = fopen("qvprobe-loaded", "w");
    return marker != nullptr && fclose(marker) == 0;
}();
