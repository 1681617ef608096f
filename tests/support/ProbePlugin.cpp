/*
 * ProbePlugin: a library that leaves the file "qvprobe-loaded" in the current folder as
 * it is loaded, and does nothing else. Planted where a program must never load a
 * library from, it shows whether the program did.
 */
#include <cstdio>

namespace
{

struct Marker {
    Marker()
    {
        if (FILE *marker = fopen("qvprobe-loaded", "w"))
            fclose(marker);
    }
} marker;

} // namespace
