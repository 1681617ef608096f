/*
 * ElfFiles: small 64-bit little-endian ELF files made in memory, for the tests and the
 * fuzzing harness of the version-note reader: notes laid out as binutils lays them, and
 * files of a header, the sections' data and the section header table.
 */
#ifndef TESTS_SUPPORT_ELFFILES_H
#define TESTS_SUPPORT_ELFFILES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ElfSection {
    uint32_t type; /* SHT_NOTE, SHT_PROGBITS, ... */
    std::string data;
    uint64_t alignment;
};

/* One note with the given owner (its terminator counted in the name size), type and
 * contents, the name and the contents each padded to alignment. */
std::string elf_note(const std::string &owner, uint32_t type, const std::string &desc,
                     size_t alignment = 4);

/* A file of the ELF header, each section's data at an 8-byte boundary, then the section
 * header table with the null section first. */
std::string elf_file(const std::vector<ElfSection> &sections);

#endif
