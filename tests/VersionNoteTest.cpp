/*
 * Tests of the version note: the note the build embeds in the program (read back from
 * the built program and reported), the report's version section over notes of every
 * shape, and the reader against files that are not what they claim: foreign, truncated,
 * corrupted at random, or built to point outside themselves.
 */
#include <gtest/gtest.h>

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "Interfaces/ErrorLogger/VersionNote.h"
#include "QVLib/QVmalloc.h"
#include "tests/support/ElfFiles.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestFiles.h"

#ifndef QV_TOOL_PATH
#error "the build passes the built program's path as QV_TOOL_PATH"
#endif

namespace
{

const std::string kTool = QV_TOOL_PATH;

std::vector<std::string> report_lines(const std::string &path)
{
    StderrCapture capture;
    qv_report_file_version(path.c_str());
    return capture.finish();
}

template <typename T> void put(std::string &out, const T &value)
{
    out.append(reinterpret_cast<const char *>(&value), sizeof value);
}

template <typename T> T get(const std::string &bytes, size_t at)
{
    T value;
    memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

/* ---- building note contents and ELF files ------------------------------------------------ */

struct Contents {
    uint32_t signature = QV_VERSION_SIGNATURE;
    uint32_t layout = QV_VERSION_LAYOUT;
    uint32_t mask = QV_VERSION_FLAGS_MASK;
    uint32_t flags = 0;
    std::vector<QVVersionTranslation> translations{{0x0409, 0x04B0}};
    std::vector<std::pair<std::string, std::string>> strings;
    /* Overrides of the counts written in the head, when set. */
    int64_t translation_count = -1;
    int64_t strings_size = -1;
    std::string build() const
    {
        std::string text;
        for (const auto &s : strings) {
            text += s.first;
            text += '\0';
            text += s.second;
            text += '\0';
        }
        QVVersionNoteHead head{
            {signature, layout, 0x00040000, 0, 0x00040000, 0, mask, flags},
            static_cast<uint32_t>(translation_count >= 0 ? translation_count : translations.size()),
            static_cast<uint32_t>(strings_size >= 0 ? strings_size : text.size())};
        std::string out;
        put(out, head);
        for (const auto &t : translations)
            put(out, t);
        return out + text;
    }
};

std::string path_of(const char *hex, const char *key)
{
    return std::string("\\StringFileInfo\\") + hex + "\\" + key;
}

std::string our_note(const std::string &desc, size_t alignment = 4)
{
    return elf_note(QV_VERSION_NOTE_OWNER, QV_VERSION_NOTE_TYPE, desc, alignment);
}

std::string elf_with_note(const std::string &desc)
{
    return elf_file({{SHT_NOTE, our_note(desc), 4}});
}

Contents tool_like_contents()
{
    Contents c;
    const char *keys[][2] = {{"FileDescription", "VADedeVeZovid"},
                             {"FileVersion", "4.0.0.0"},
                             {"OriginalFilename", "VADedeVeZovid"},
                             {"ProductName", "VADedeVeZovid"},
                             {"ProductVersion", "4.0.0.0"}};
    for (auto &k : keys)
        c.strings.push_back({path_of("040904b0", k[0]), k[1]});
    return c;
}

/* ---- the built program ------------------------------------------------------------------- */

TEST(VersionNote, TheBuiltProgramCarriesItsVersion)
{
    uint32_t size = qv_version_note_size(kTool.c_str());
    ASSERT_GT(size, sizeof(QVVersionNoteHead));
    std::vector<unsigned char> block(size);
    ASSERT_EQ(0u, qv_version_note_read(kTool.c_str(), size, block.data()));

    const void *value;
    uint32_t length;
    ASSERT_TRUE(qv_version_note_query(block.data(), size, "\\", &value, &length));
    ASSERT_EQ(sizeof(QVVersionFixed), length);
    QVVersionFixed fixed;
    memcpy(&fixed, value, sizeof fixed);
    EXPECT_EQ(0x00040000u, fixed.file_version_ms);
    EXPECT_EQ(0u, fixed.file_version_ls);
    EXPECT_EQ(0x00040000u, fixed.product_version_ms);
    EXPECT_EQ(0u, fixed.product_version_ls);
    EXPECT_EQ(0x3Fu, fixed.file_flags_mask);
#ifdef NDEBUG
    EXPECT_EQ(0u, fixed.file_flags);
#else
    EXPECT_EQ(0x01u, fixed.file_flags);
#endif

    ASSERT_TRUE(
        qv_version_note_query(block.data(), size, "\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(4u, length);
    QVVersionTranslation t;
    memcpy(&t, value, sizeof t);
    EXPECT_EQ(0x0409, t.language);
    EXPECT_EQ(0x04B0, t.code_page);

    ASSERT_TRUE(qv_version_note_query(block.data(), size, "\\StringFileInfo\\040904b0\\FileVersion",
                                      &value, &length));
    EXPECT_EQ(std::string("4.0.0.0"), static_cast<const char *>(value));
    EXPECT_EQ(7u, length);
    EXPECT_FALSE(qv_version_note_query(
        block.data(), size, "\\StringFileInfo\\040904b0\\SpecialBuild", &value, &length));
}

TEST(VersionNote, TheBuiltProgramsVersionSection)
{
    auto lines = report_lines(kTool);
    std::vector<std::string> expected = {"INFO   : File " + kTool + " info:"};
#ifndef NDEBUG
    expected.push_back("INFO   :   Debug build");
#endif
    for (const char *line :
         {"  Language: English (United States)", "    FileDescription = VADedeVeZovid",
          "    FileVersion = 4.0.0.0", "    OriginalFilename = VADedeVeZovid",
          "    ProductName = VADedeVeZovid", "    ProductVersion = 4.0.0.0"})
        expected.push_back(std::string("INFO   : ") + line);
    EXPECT_EQ(expected, lines);
}

TEST(VersionNote, TheNoteIsAnAllocatedNoteSection)
{
    /* Kept by the linker, in its own SHT_NOTE section, four-byte aligned. */
    std::string elf = read_file(kTool);
    ASSERT_GE(elf.size(), sizeof(Elf64_Ehdr));
    Elf64_Ehdr header = get<Elf64_Ehdr>(elf, 0);
    ASSERT_LE(header.e_shoff + uint64_t{header.e_shnum} * sizeof(Elf64_Shdr), elf.size());
    Elf64_Shdr names =
        get<Elf64_Shdr>(elf, header.e_shoff + header.e_shstrndx * sizeof(Elf64_Shdr));
    bool found = false;
    for (unsigned i = 0; i < header.e_shnum; i++) {
        Elf64_Shdr sh = get<Elf64_Shdr>(elf, header.e_shoff + i * sizeof(Elf64_Shdr));
        if (std::string(elf.c_str() + names.sh_offset + sh.sh_name) != QV_VERSION_NOTE_SECTION)
            continue;
        found = true;
        EXPECT_EQ(uint32_t{SHT_NOTE}, sh.sh_type);
        EXPECT_TRUE(sh.sh_flags & SHF_ALLOC);
        EXPECT_EQ(4u, sh.sh_addralign);
    }
    EXPECT_TRUE(found);
}

TEST(VersionNote, AStrippedCopyKeepsIt)
{
    if (system("command -v strip >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no strip on this machine";
    TempDir dir;
    std::string copy = dir.file("stripped", read_file(kTool));
    ASSERT_EQ(0, system(("strip '" + copy + "'").c_str()));
    EXPECT_LT(read_file(copy).size(), read_file(kTool).size());
    auto lines = report_lines(copy);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("INFO   : File " + copy + " info:", lines[0]);
    EXPECT_EQ(report_lines(kTool).size(), lines.size());
    EXPECT_EQ("INFO   :     ProductVersion = 4.0.0.0", lines.back());
}

/* ---- the version section over notes of every shape ---------------------------------------- */

TEST(VersionSection, SyntheticNoteReadsLikeTheProgram)
{
    TempDir dir;
    std::string path = dir.file("tool", elf_with_note(tool_like_contents().build()));
    auto lines = report_lines(path);
    ASSERT_EQ(7u, lines.size());
    EXPECT_EQ("INFO   : File " + path + " info:", lines[0]);
    EXPECT_EQ("INFO   :   Language: English (United States)", lines[1]);
    EXPECT_EQ("INFO   :     FileDescription = VADedeVeZovid", lines[2]);
    EXPECT_EQ("INFO   :     ProductVersion = 4.0.0.0", lines[6]);
}

TEST(VersionSection, FlagLinesInOrderUnderTheMask)
{
    TempDir dir;
    Contents c = tool_like_contents();
    c.strings.clear();
    c.flags = 0xFFFFFFFF;
    auto lines = report_lines(dir.file("all", elf_with_note(c.build())));
    std::vector<std::string> expected = {"INFO   :   Debug build",
                                         "INFO   :   Prerelease build",
                                         "INFO   :   Patched build",
                                         "INFO   :   Private build ",
                                         "INFO   :   Special build ", /* 0x10 is not reported */
                                         "INFO   :   Language: English (United States)"};
    ASSERT_EQ(expected.size() + 1, lines.size());
    EXPECT_EQ(expected, std::vector<std::string>(lines.begin() + 1, lines.end()));

    c.mask = QV_VERSION_FLAG_PATCHED | QV_VERSION_FLAG_INFOINFERRED;
    lines = report_lines(dir.file("masked", elf_with_note(c.build())));
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("INFO   :   Patched build", lines[1]);

    c.mask = QV_VERSION_FLAGS_MASK;
    c.flags = QV_VERSION_FLAG_INFOINFERRED;
    lines = report_lines(dir.file("inferred", elf_with_note(c.build())));
    ASSERT_EQ(2u, lines.size());
}

TEST(VersionSection, TwoTranslationsEachWithItsOwnValues)
{
    TempDir dir;
    Contents c;
    c.translations = {{0x0409, 0x04B0}, {0x0407, 0x04E4}};
    c.strings = {{path_of("040904b0", "FileDescription"), "Camera set-up"},
                 {path_of("040904b0", "SpecialBuild"), "hotfix 7"},
                 {path_of("040904b0", "Comments"), "not a key of the report"},
                 {path_of("040704e4", "ProductName"), "Kamera-Einrichtung"},
                 {path_of("040704e4", "FileVersion"), ""}, /* empty: no line */
                 {path_of("040704E4", "FileDescription"), "upper-case path: not found"}};
    auto lines = report_lines(dir.file("two", elf_with_note(c.build())));
    std::vector<std::string> expected = {
        "INFO   :   Language: English (United States)",
        "INFO   :     FileDescription = Camera set-up", "INFO   :     SpecialBuild = hotfix 7",
        "INFO   :   Language: German (Germany)", "INFO   :     ProductName = Kamera-Einrichtung"};
    ASSERT_EQ(expected.size() + 1, lines.size());
    EXPECT_EQ(expected, std::vector<std::string>(lines.begin() + 1, lines.end()));
}

TEST(VersionSection, LanguageNames)
{
    TempDir dir;
    Contents c;
    c.translations = {{0x0000, 0}, {0x040C, 0}, {0x0410, 0}, {0x0411, 0},
                      {0x0413, 0}, {0x0C0A, 0}, {0x1234, 0}, {0xFFFF, 0}};
    auto lines = report_lines(dir.file("names", elf_with_note(c.build())));
    std::vector<std::string> expected = {"INFO   :   Language: Language Neutral",
                                         "INFO   :   Language: French (France)",
                                         "INFO   :   Language: Italian (Italy)",
                                         "INFO   :   Language: Japanese (Japan)",
                                         "INFO   :   Language: Dutch (Netherlands)",
                                         "INFO   :   Language: Spanish (Spain)",
                                         "INFO   :   Language: Unknown language 0x1234",
                                         "INFO   :   Language: Unknown language 0xffff"};
    ASSERT_EQ(expected.size() + 1, lines.size());
    EXPECT_EQ(expected, std::vector<std::string>(lines.begin() + 1, lines.end()));
}

TEST(VersionSection, ControlCharactersInValuesCannotForgeLines)
{
    TempDir dir;
    Contents c;
    c.strings = {{path_of("040904b0", "ProductName"), "VAD\nERROR  : forged\x1b[31m"}};
    auto lines = report_lines(dir.file("evil", elf_with_note(c.build())));
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("INFO   :     ProductName = VAD?ERROR  : forged?[31m", lines[2]);
}

TEST(VersionSection, MalformedContentsShowOnlyTheFileLine)
{
    TempDir dir;
    std::vector<Contents> bad(6, tool_like_contents());
    bad[0].signature = 0x12345678;
    bad[1].layout = 0x00020000;
    bad[2].translation_count = 1 << 20; /* more than the contents hold */
    bad[3].strings_size = 1 << 20;
    bad[4].translation_count = 0x40000001; /* count * 4 wraps in 32 bits */
    bad[5].strings_size = 0xFFFFFFFF;
    for (size_t i = 0; i < bad.size(); i++) {
        std::string path = dir.file("bad" + std::to_string(i), elf_with_note(bad[i].build()));
        auto lines = report_lines(path);
        ASSERT_EQ(1u, lines.size()) << i;
        EXPECT_EQ("INFO   : File " + path + " info:", lines[0]);
    }
    /* Contents shorter than the head. */
    std::string path = dir.file("short", elf_with_note(std::string(39, 'x')));
    EXPECT_EQ(1u, report_lines(path).size());
}

TEST(VersionSection, UnterminatedStringsAreNotRead)
{
    TempDir dir;
    Contents c = tool_like_contents();
    std::string desc = c.build();
    /* Cut the last value's terminator off: the strings end inside a text. */
    desc.pop_back();
    Contents head_only = c;
    head_only.strings_size = static_cast<int64_t>(desc.size() - sizeof(QVVersionNoteHead) - 4);
    std::string fixed_head = head_only.build().substr(0, sizeof(QVVersionNoteHead));
    desc.replace(0, fixed_head.size(), fixed_head);
    auto lines = report_lines(dir.file("cut", elf_with_note(desc)));
    /* The values before the cut one are found; ProductVersion is not. */
    ASSERT_EQ(6u, lines.size());
    EXPECT_EQ("INFO   :     ProductName = VADedeVeZovid", lines[5]);

    /* No terminator at all in the strings area. */
    Contents raw;
    raw.strings_size = 8;
    std::string no_end = raw.build() + "ABCDEFGH";
    lines = report_lines(dir.file("noend", elf_with_note(no_end)));
    ASSERT_EQ(2u, lines.size());
}

TEST(VersionSection, QueryWorksOnUnalignedBlocks)
{
    std::string desc = tool_like_contents().build();
    std::vector<unsigned char> storage(desc.size() + 1);
    memcpy(storage.data() + 1, desc.data(), desc.size());
    const void *value;
    uint32_t length;
    ASSERT_TRUE(qv_version_note_query(storage.data() + 1, static_cast<uint32_t>(desc.size()),
                                      "\\StringFileInfo\\040904b0\\OriginalFilename", &value,
                                      &length));
    EXPECT_EQ(std::string("VADedeVeZovid"), static_cast<const char *>(value));
    EXPECT_FALSE(qv_version_note_query(nullptr, 10, "\\", &value, &length));
    EXPECT_FALSE(qv_version_note_query(storage.data(), 0, "\\", &value, &length));
    EXPECT_FALSE(qv_version_note_query(storage.data() + 1, static_cast<uint32_t>(desc.size()),
                                       nullptr, &value, &length));
}

/* ---- finding the note in a file ------------------------------------------------------------ */

TEST(VersionNoteFile, FoundAmongOtherNotesAndSections)
{
    TempDir dir;
    std::string desc = tool_like_contents().build();
    std::string gnu = elf_note("GNU", NT_GNU_BUILD_ID, std::string(20, '\x11'));
    /* Padded to 24 bytes in an 8-aligned section, 20 in a 4-aligned one. */
    std::string property = elf_note("GNU", NT_GNU_PROPERTY_TYPE_0, std::string(4, '\0'), 8);
    std::vector<std::pair<std::string, std::vector<ElfSection>>> layouts = {
        {"after a build id", {{SHT_NOTE, gnu + our_note(desc), 4}}},
        {"in an 8-aligned section", {{SHT_NOTE, property + our_note(desc, 8), 8}}},
        {"after other sections",
         {{SHT_PROGBITS, std::string(100, '\0'), 16},
          {SHT_NOTE, gnu, 4},
          {SHT_NOTE, our_note(desc), 4}}},
        {"after a wrong owner and type",
         {{SHT_NOTE,
           elf_note("Quorvanf", QV_VERSION_NOTE_TYPE, "x") + elf_note("Quorvane", 7, desc) +
               elf_note("Quorvan", QV_VERSION_NOTE_TYPE, desc) + our_note(desc),
           4}}},
    };
    for (const auto &layout : layouts) {
        std::string path = dir.file("f", elf_file(layout.second));
        EXPECT_EQ(desc.size(), qv_version_note_size(path.c_str())) << layout.first;
        EXPECT_EQ(7u, report_lines(path).size()) << layout.first;
    }
}

TEST(VersionNoteFile, FilesWithoutTheNoteGiveNoSection)
{
    TempDir dir;
    std::string desc = tool_like_contents().build();
    std::string fifo = dir.path() + "/fifo";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    std::vector<std::pair<std::string, std::string>> files = {
        {"/bin/sh", "/bin/sh"},
        {"empty", dir.file("empty", "")},
        {"text", dir.file("text", "#!/bin/sh\necho not an ELF file\n")},
        {"missing", dir.path() + "/missing"},
        {"directory", dir.path()},
        {"fifo", fifo}, /* must not block */
        {"device", "/dev/zero"},
        {"wrong owner",
         dir.file("o",
                  elf_file({{SHT_NOTE, elf_note("Quorvanx", QV_VERSION_NOTE_TYPE, desc), 4}}))},
        {"wrong type",
         dir.file("t", elf_file({{SHT_NOTE, elf_note(QV_VERSION_NOTE_OWNER, 1, desc), 4}}))},
        {"not a note section", dir.file("p", elf_file({{SHT_PROGBITS, our_note(desc), 4}}))},
        {"empty contents", dir.file("e", elf_file({{SHT_NOTE, our_note(""), 4}}))},
        {"contents too large",
         dir.file("l",
                  elf_file({{SHT_NOTE, our_note(std::string(QV_VERSION_NOTE_MAX + 1, 'x')), 4}}))},
        {"no sections", dir.file("n", elf_file({}))},
    };
    for (const auto &f : files) {
        EXPECT_EQ(0u, qv_version_note_size(f.second.c_str())) << f.first;
        EXPECT_TRUE(report_lines(f.second).empty()) << f.first;
    }
    EXPECT_EQ(0u, qv_version_note_size(nullptr));
    qv_report_file_version(nullptr);
}

TEST(VersionNoteFile, ForeignHeadersAreRefused)
{
    TempDir dir;
    std::string good = elf_with_note(tool_like_contents().build());
    struct {
        const char *name;
        size_t at;
        unsigned char value;
    } changes[] = {
        {"32-bit class", EI_CLASS, ELFCLASS32},
        {"big-endian", EI_DATA, ELFDATA2MSB},
        {"no class", EI_CLASS, ELFCLASSNONE},
        {"bad version", EI_VERSION, 2},
        {"bad magic", 1, 'e'},
    };
    ASSERT_GT(qv_version_note_size(dir.file("good", good).c_str()), 0u);
    for (const auto &c : changes) {
        std::string bytes = good;
        bytes[c.at] = static_cast<char>(c.value);
        EXPECT_EQ(0u, qv_version_note_size(dir.file("x", bytes).c_str())) << c.name;
    }
    /* A section header size other than Elf64_Shdr's. */
    std::string bytes = good;
    Elf64_Ehdr header = get<Elf64_Ehdr>(bytes, 0);
    header.e_shentsize = sizeof(Elf32_Shdr);
    bytes.replace(0, sizeof header, reinterpret_cast<const char *>(&header), sizeof header);
    EXPECT_EQ(0u, qv_version_note_size(dir.file("x", bytes).c_str()));
}

/* The file good with the field of type T at offset at replaced by value. */
template <typename T> std::string patched(const std::string &good, size_t at, T value)
{
    std::string bytes = good;
    bytes.replace(at, sizeof value, reinterpret_cast<const char *>(&value), sizeof value);
    return bytes;
}

TEST(VersionNoteFile, OffsetsAndSizesOutsideTheFile)
{
    TempDir dir;
    std::string good = elf_with_note(tool_like_contents().build());
    Elf64_Ehdr header = get<Elf64_Ehdr>(good, 0);
    size_t note_header = header.e_shoff + sizeof(Elf64_Shdr); /* section 1 */
    size_t sh_offset = note_header + offsetof(Elf64_Shdr, sh_offset);
    size_t sh_size = note_header + offsetof(Elf64_Shdr, sh_size);
    Elf64_Shdr section = get<Elf64_Shdr>(good, note_header);
    size_t n_namesz = section.sh_offset, n_descsz = section.sh_offset + 4;

    std::vector<std::pair<std::string, std::string>> files = {
        {"e_shoff past the end",
         patched<uint64_t>(good, offsetof(Elf64_Ehdr, e_shoff), good.size())},
        {"e_shoff wraps", patched<uint64_t>(good, offsetof(Elf64_Ehdr, e_shoff), UINT64_MAX - 63)},
        {"e_shnum past the end", patched<uint16_t>(good, offsetof(Elf64_Ehdr, e_shnum), 65535)},
        {"e_shnum 0", patched<uint16_t>(good, offsetof(Elf64_Ehdr, e_shnum), 0)},
        {"sh_offset past the end", patched<uint64_t>(good, sh_offset, good.size() + 1)},
        {"sh_offset wraps", patched<uint64_t>(good, sh_offset, UINT64_MAX - 8)},
        {"sh_size past the end", patched<uint64_t>(good, sh_size, good.size())},
        {"sh_size huge", patched<uint64_t>(good, sh_size, UINT64_MAX)},
        {"sh_size cuts the note", patched<uint64_t>(good, sh_size, section.sh_size - 8)},
        {"sh_size below a header", patched<uint64_t>(good, sh_size, 11)},
        {"n_namesz huge", patched<uint32_t>(good, n_namesz, UINT32_MAX)},
        {"n_namesz past the section", patched<uint32_t>(good, n_namesz, 4096)},
        {"n_descsz huge", patched<uint32_t>(good, n_descsz, UINT32_MAX)},
        {"n_descsz past the section", patched<uint32_t>(good, n_descsz, section.sh_size)},
        {"n_descsz 0", patched<uint32_t>(good, n_descsz, 0)},
        {"sh_offset at the header table", patched<uint64_t>(good, sh_offset, header.e_shoff)},
    };
    for (const auto &f : files) {
        std::string path = dir.file("x", f.second);
        EXPECT_EQ(0u, qv_version_note_size(path.c_str())) << f.first;
        EXPECT_TRUE(report_lines(path).empty()) << f.first;
    }
    /* The note section overlapping the section header table and the ELF header: both
     * read the same bytes, nothing beyond the file. */
    std::string overlap =
        patched<uint64_t>(patched<uint64_t>(good, sh_offset, 0), sh_size, good.size());
    std::string path = dir.file("overlap", overlap);
    EXPECT_EQ(0u, qv_version_note_size(path.c_str()));
}

TEST(VersionNoteFile, ManyHostileSectionsAreBoundedWork)
{
    /* 65535 section headers, all naming the same large note section full of empty notes:
     * the scan gives up after its budget instead of walking it 65535 times. */
    TempDir dir;
    std::string empty_notes(((1 << 20) / 12) * 12, '\0'); /* headers of empty notes */
    std::string bytes = elf_file({{SHT_NOTE, empty_notes, 4}});
    Elf64_Ehdr header = get<Elf64_Ehdr>(bytes, 0);
    Elf64_Shdr section = get<Elf64_Shdr>(bytes, header.e_shoff + sizeof(Elf64_Shdr));
    header.e_shnum = 65535;
    bytes.replace(0, sizeof header, reinterpret_cast<const char *>(&header), sizeof header);
    bytes.resize(header.e_shoff + sizeof(Elf64_Shdr));
    for (unsigned i = 1; i < 65535; i++)
        put(bytes, section);
    std::string path = dir.file("many", bytes);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0u, qv_version_note_size(path.c_str()));
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 20.0);
}

TEST(VersionNoteFile, ReadChecksTheFileStillHoldsTheNote)
{
    TempDir dir;
    std::string desc = tool_like_contents().build();
    std::string path = dir.file("f", elf_with_note(desc));
    uint32_t size = qv_version_note_size(path.c_str());
    ASSERT_EQ(desc.size(), size);
    std::vector<unsigned char> block(size + 16);
    EXPECT_EQ(1u, qv_version_note_read(path.c_str(), size - 4, block.data()));
    EXPECT_EQ(1u, qv_version_note_read(path.c_str(), size, nullptr));
    EXPECT_EQ(3u, qv_version_note_read((dir.path() + "/missing").c_str(), size, block.data()));
    dir.file("f", "replaced by something else");
    EXPECT_EQ(1u, qv_version_note_read(path.c_str(), size, block.data()));
}

TEST(VersionNoteFile, AllocationFailureWritesNothing)
{
    StderrCapture capture;
    qv_malloc_fail_nth(1);
    qv_report_file_version(kTool.c_str());
    qv_malloc_fail_nth(0);
    auto lines = capture.finish();
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find(": out of memory. Size requested = "));
}

/* ---- the built program, damaged ------------------------------------------------------------ */

/* A private copy of the built program that tests may damage. */
class DamagedTool : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        original_ = read_file(kTool);
        ASSERT_GT(original_.size(), sizeof(Elf64_Ehdr));
        path_ = dir_.file("tool", original_);
        fd_ = open(path_.c_str(), O_RDWR);
        ASSERT_GE(fd_, 0);
        expected_ = report_lines(kTool);
        for (std::string &line : expected_)
            if (line == "INFO   : File " + kTool + " info:")
                line = "INFO   : File " + path_ + " info:";
        ASSERT_EQ(expected_, report_lines(path_));
        Elf64_Ehdr header = get<Elf64_Ehdr>(original_, 0);
        section_headers_ = header.e_shoff;
        section_headers_end_ = header.e_shoff + uint64_t{header.e_shnum} * sizeof(Elf64_Shdr);
        ASSERT_LE(section_headers_end_, original_.size());
        Elf64_Shdr names =
            get<Elf64_Shdr>(original_, header.e_shoff + header.e_shstrndx * sizeof(Elf64_Shdr));
        for (unsigned i = 0; i < header.e_shnum; i++) {
            Elf64_Shdr sh = get<Elf64_Shdr>(original_, header.e_shoff + i * sizeof(Elf64_Shdr));
            if (std::string(original_.c_str() + names.sh_offset + sh.sh_name) ==
                QV_VERSION_NOTE_SECTION)
                version_section_ = {sh.sh_offset, sh.sh_size};
            if (sh.sh_type == SHT_NOTE) {
                notes_.push_back({sh.sh_offset, sh.sh_size});
                note_headers_.push_back(header.e_shoff + i * sizeof(Elf64_Shdr));
            }
        }
        ASSERT_FALSE(notes_.empty());
        ASSERT_GT(version_section_.second, 0u);
    }
    void TearDown() override
    {
        if (fd_ >= 0)
            close(fd_);
    }
    /* The report's lines for the damaged copy must be none, or the file line followed
     * by lines of the section's own shapes. */
    void expect_no_crash_and_sane_lines(const std::string &what)
    {
        auto lines = report_lines(path_);
        if (lines.empty())
            return;
        EXPECT_EQ("INFO   : File " + path_ + " info:", lines[0]) << what;
        for (size_t i = 1; i < lines.size(); i++)
            EXPECT_EQ(0u, lines[i].find("INFO   :   ")) << what << ": " << lines[i];
    }

    TempDir dir_;
    std::string original_, path_;
    int fd_ = -1;
    std::vector<std::string> expected_;
    uint64_t section_headers_ = 0, section_headers_end_ = 0;
    std::vector<std::pair<uint64_t, uint64_t>> notes_; /* offset, size */
    std::vector<uint64_t> note_headers_;
    std::pair<uint64_t, uint64_t> version_section_{0, 0}; /* offset, size */
};

TEST_F(DamagedTool, TruncatedAtManyLengthsGivesNoSection)
{
    /* The section header table ends the file, so every cut removes some of it. Lengths
     * descend so that one copy serves them all. */
    std::vector<uint64_t> lengths;
    for (uint64_t n = original_.size() - 1; n + 1 > section_headers_ && n > 0; n--)
        lengths.push_back(n);
    for (const auto &note : notes_)
        for (uint64_t n = note.first + note.second + 16; n + 16 > note.first && n > 0; n--)
            lengths.push_back(n);
    for (uint64_t n = section_headers_; n > 4096; n -= 4093)
        lengths.push_back(n);
    for (uint64_t n = 4096; n > 0; n--)
        lengths.push_back(n);
    lengths.push_back(0);
    std::sort(lengths.rbegin(), lengths.rend());
    lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
    ASSERT_GT(lengths.size(), 1000u);
    for (uint64_t n : lengths) {
        if (n >= original_.size())
            continue;
        ASSERT_EQ(0, ftruncate(fd_, static_cast<off_t>(n)));
        ASSERT_EQ(0u, qv_version_note_size(path_.c_str())) << "length " << n;
    }
    /* The report itself, at a sample of lengths. */
    std::string sample = original_.substr(0, section_headers_end_ - 1);
    for (size_t n :
         {sample.size(), size_t(section_headers_ + 1), size_t(64), size_t(63), size_t(1)}) {
        std::string path = dir_.file("cut", original_.substr(0, n));
        EXPECT_TRUE(report_lines(path).empty()) << "length " << n;
    }
}

TEST_F(DamagedTool, RandomByteFlipsNeverCrash)
{
    /* Flips of one to four bytes in the ELF header, the note sections' headers and the
     * notes themselves; each damage is undone before the next. */
    std::vector<std::pair<uint64_t, uint64_t>> regions = {{0, sizeof(Elf64_Ehdr)}};
    for (uint64_t at : note_headers_)
        regions.push_back({at, sizeof(Elf64_Shdr)});
    for (const auto &note : notes_)
        regions.push_back(note);
    std::mt19937 random(20240601);
    unsigned changed_output = 0;
    for (int round = 0; round < 3000; round++) {
        const auto &region = regions[random() % regions.size()];
        int flips = 1 + static_cast<int>(random() % 4);
        std::vector<uint64_t> offsets;
        for (int i = 0; i < flips; i++) {
            uint64_t at = region.first + random() % region.second;
            unsigned char byte = static_cast<unsigned char>(original_[at]) ^
                                 static_cast<unsigned char>(1 + random() % 255);
            ASSERT_EQ(1, pwrite(fd_, &byte, 1, static_cast<off_t>(at)));
            offsets.push_back(at);
        }
        auto lines = report_lines(path_);
        if (lines != expected_)
            changed_output++;
        expect_no_crash_and_sane_lines("round " + std::to_string(round));
        for (uint64_t at : offsets)
            ASSERT_EQ(1, pwrite(fd_, original_.data() + at, 1, static_cast<off_t>(at)));
    }
    EXPECT_GT(changed_output, 100u); /* the damage did reach the reader */
    EXPECT_EQ(expected_, report_lines(path_));
}

TEST_F(DamagedTool, EveryByteOfOurNoteFlipped)
{
    /* Each byte of the version note, in turn, set to 0x00, 0xFF and its complement. */
    uint64_t start = version_section_.first, end = start + version_section_.second;
    for (uint64_t i = start; i < end; i++) {
        for (unsigned char byte : {static_cast<unsigned char>(0), static_cast<unsigned char>(0xFF),
                                   static_cast<unsigned char>(~original_[i])}) {
            ASSERT_EQ(1, pwrite(fd_, &byte, 1, static_cast<off_t>(i)));
            expect_no_crash_and_sane_lines("offset " + std::to_string(i));
        }
        ASSERT_EQ(1, pwrite(fd_, original_.data() + i, 1, static_cast<off_t>(i)));
    }
    EXPECT_EQ(expected_, report_lines(path_));
}

} // namespace
