/*
 * VADedeVeZovidVersion: the program's version record, embedded in the executable as an
 * ELF note for the system report to read back from the file.
 *
 * The values come from VersionValues.h, which the Windows build's version resource
 * reads as well. The note must be in the executable's own sources: nothing refers to
 * it, and a linker drops unreferenced objects of static libraries. "used" keeps the
 * compiler from dropping it, "retain" keeps it through section garbage collection.
 */
#include <cstddef>
#include <cstdint>

#include "Interfaces/ErrorLogger/VersionNote.h"
#include "WinGUI/VersionValues.h"

#define QV_TRANSLATION_PATH "\\StringFileInfo\\" QV_VERSION_TRANSLATION "\\"

/* One string pair: its query path and its value, each zero-terminated. */
#define QV_VALUE(key, value) QV_TRANSLATION_PATH key "\0" value "\0"

/* The string pairs; the literal's own terminator ends the list as an empty path. */
#define QV_VERSION_STRINGS                                                                         \
    QV_VALUE("FileDescription", QV_VERSION_FILE_DESCRIPTION)                                       \
    QV_VALUE("FileVersion", QV_VERSION_STRING)                                                     \
    QV_VALUE("OriginalFilename", QV_VERSION_ORIGINAL_FILENAME)                                     \
    QV_VALUE("ProductName", QV_VERSION_PRODUCT_NAME)                                               \
    QV_VALUE("ProductVersion", QV_VERSION_STRING)

static_assert(QV_VERSION_FILE_FLAGS_MASK == QV_VERSION_FLAGS_MASK, "the note's flags mean the same");

#define QV_VERSION_MS ((uint32_t{QV_VERSION_MAJOR} << 16) | uint32_t{QV_VERSION_MINOR})
#define QV_VERSION_LS ((uint32_t{QV_VERSION_PATCH} << 16) | uint32_t{QV_VERSION_TWEAK})

namespace
{

/* An ELF note as it lies in the section: header, owner name padded to four bytes,
 * contents (the struct's size pads them to four bytes as well). */
struct VersionNoteImage {
    uint32_t name_size;
    uint32_t desc_size;
    uint32_t type;
    char owner[(sizeof(QV_VERSION_NOTE_OWNER) + 3) & ~size_t{3}];
    QVVersionNoteHead head;
    QVVersionTranslation translations[1];
    char strings[sizeof(QV_VERSION_STRINGS)];
};

static_assert(offsetof(VersionNoteImage, head) % 4 == 0, "the contents start aligned");
static_assert(alignof(VersionNoteImage) == 4, "a note section is four-byte aligned");

} // namespace

#if defined(__has_attribute) && __has_attribute(retain)
#define QV_RETAIN __attribute__((retain))
#else
#define QV_RETAIN
#endif

__attribute__((section(QV_VERSION_NOTE_SECTION), used, aligned(4)))
QV_RETAIN static const VersionNoteImage qv_version_note = {
    sizeof(QV_VERSION_NOTE_OWNER),
    static_cast<uint32_t>(offsetof(VersionNoteImage, strings) + sizeof(QV_VERSION_STRINGS) -
                          offsetof(VersionNoteImage, head)),
    QV_VERSION_NOTE_TYPE,
    QV_VERSION_NOTE_OWNER,
    {
        {QV_VERSION_SIGNATURE, QV_VERSION_LAYOUT, QV_VERSION_MS, QV_VERSION_LS, QV_VERSION_MS,
         QV_VERSION_LS, QV_VERSION_FILE_FLAGS_MASK, QV_VERSION_FILE_FLAGS},
        1,
        sizeof(QV_VERSION_STRINGS),
    },
    {{QV_VERSION_LANGUAGE, QV_VERSION_CODE_PAGE}},
    QV_VERSION_STRINGS,
};
