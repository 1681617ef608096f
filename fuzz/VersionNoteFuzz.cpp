/*
 * Fuzzing harness: the version-note reader, any file.
 *
 * Input: one byte of mode, then the bytes it places. Mode 0: the bytes are the whole
 * file. Mode 1: they are the contents of the one note section of a well-formed ELF file
 * (so the note headers are fuzzed). Mode 2: they are the contents of a well-formed
 * version note in such a file (so the version record is fuzzed). The file is held in
 * memory and read through its path, as the system report reads the executable.
 *
 * Properties: a note found is at most QV_VERSION_NOTE_MAX bytes and reads back in full
 * at its size (and not at another); in mode 2 the note is found exactly when its size
 * is allowed, with the contents placed; every value a query finds lies inside the
 * contents, a string value with its terminator; the report's lines stay whole.
 */
#include <elf.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "Interfaces/ErrorLogger/VersionNote.h"
#include "fuzz/FuzzSupport.h"
#include "tests/support/ElfFiles.h"

static const char *const g_queries[] = {
    "\\",
    "\\VarFileInfo\\Translation",
    "\\StringFileInfo\\040904b0\\FileDescription",
    "\\StringFileInfo\\040904b0\\FileVersion",
    "\\StringFileInfo\\040904b0\\ProductVersion",
};

/* Queries contents (size bytes at block) and checks that what is found lies inside. */
static void check_queries(const unsigned char *block, uint32_t size)
{
    for (const char *query : g_queries) {
        const void *value = nullptr;
        uint32_t length = 0;
        if (!qv_version_note_query(block, size, query, &value, &length))
            continue;
        const unsigned char *start = static_cast<const unsigned char *>(value);
        QV_FUZZ_CHECK(start >= block && start <= block + size);
        size_t room = static_cast<size_t>(block + size - start);
        bool is_string = strncmp(query, "\\StringFileInfo\\", 16) == 0;
        QV_FUZZ_CHECK(length + (is_string ? 1u : 0u) <= room);
        if (is_string)
            QV_FUZZ_CHECK(start[length] == '\0' && memchr(start, '\0', length) == nullptr);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    int mode = data[0] % 3;
    std::string placed(reinterpret_cast<const char *>(data + 1), size - 1);
    std::string contents =
        mode == 2 ? elf_note(QV_VERSION_NOTE_OWNER, QV_VERSION_NOTE_TYPE, placed) : placed;
    std::string file = mode == 0 ? placed : elf_file({{SHT_NOTE, contents, 4}});
    std::string path = qv_fuzz_file(reinterpret_cast<const uint8_t *>(file.data()), file.size());

    uint32_t found = qv_version_note_size(path.c_str());
    QV_FUZZ_CHECK(found <= QV_VERSION_NOTE_MAX);
    if (mode == 2) {
        bool allowed = !placed.empty() && placed.size() <= QV_VERSION_NOTE_MAX;
        QV_FUZZ_CHECK(found == (allowed ? placed.size() : 0));
    }
    if (found > 0) {
        std::unique_ptr<unsigned char[]> block(new unsigned char[found + 1]);
        QV_FUZZ_CHECK(qv_version_note_read(path.c_str(), found + 1, block.get()) == 1);
        QV_FUZZ_CHECK(qv_version_note_read(path.c_str(), found, block.get()) == 0);
        if (mode == 2)
            QV_FUZZ_CHECK(memcmp(block.get(), placed.data(), found) == 0);
        /* a copy of exactly the note's size, so that a read past it is caught */
        std::unique_ptr<unsigned char[]> exact(new unsigned char[found]);
        memcpy(exact.get(), block.get(), found);
        check_queries(exact.get(), found);
    }
    /* The contents as given, at an odd address: the queries take any alignment. */
    std::unique_ptr<unsigned char[]> raw(new unsigned char[size]);
    memcpy(raw.get(), data, size);
    check_queries(raw.get() + 1, static_cast<uint32_t>(size - 1));

    qv_fuzz_take_lines();
    qv_report_file_version(path.c_str());
    QV_FUZZ_CHECK(qv_fuzz_lines_are_whole(qv_fuzz_take_lines()));
    return 0;
}
