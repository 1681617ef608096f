/*
 * VersionNote: finds the version note in an ELF executable file and looks values up in
 * its contents.
 *
 * The file is read piecewise with pread (ELF header, each section header, each note
 * header and owner name), never mapped, so a file that changes or shrinks while it is
 * read only makes a read come up short. Offsets and sizes from the file are 64-bit and
 * checked as "offset <= total && size <= total - offset", which cannot wrap. The work
 * is bounded: at most QV_NOTE_SCAN_MAX bytes of note sections are walked in all, which
 * is far more than any build puts there (a few hundred bytes).
 */
#include "Interfaces/ErrorLogger/VersionNote.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the note is read in the machine's byte order, which must be the file's");

/* Total bytes of note sections walked before giving up on a file. */
#define QV_NOTE_SCAN_MAX (1u << 20)

/* True when [offset, offset + length) lies within total bytes. */
static bool span_fits(uint64_t offset, uint64_t length, uint64_t total)
{
    return offset <= total && length <= total - offset;
}

static uint64_t align_up(uint64_t value, uint64_t alignment)
{
    return (value + alignment - 1) & ~(alignment - 1); /* value < 2^34 here: no wrap */
}

/* Reads exactly length bytes at offset; false on error or a short read. */
static bool read_at(int fd, uint64_t offset, void *buffer, size_t length)
{
    unsigned char *out = static_cast<unsigned char *>(buffer);
    while (length > 0) {
        ssize_t n = pread(fd, out, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        out += n;
        offset += static_cast<uint64_t>(n);
        length -= static_cast<size_t>(n);
    }
    return true;
}

/* Walks the notes of one note section [start, start + size) for ours. On success sets
 * *desc_offset and *desc_size (1..QV_VERSION_NOTE_MAX) and returns true. *budget is the
 * number of section bytes that may still be walked. */
static bool find_in_section(int fd, uint64_t start, uint64_t size, uint64_t alignment,
                            uint64_t *budget, uint64_t *desc_offset, uint32_t *desc_size)
{
    static const char owner[] = QV_VERSION_NOTE_OWNER;
    uint64_t at = 0; /* offset of the current note within the section, <= size */
    while (size - at >= sizeof(Elf64_Nhdr)) {
        Elf64_Nhdr header;
        if (!read_at(fd, start + at, &header, sizeof header))
            return false;
        uint64_t left = size - at;
        /* The descriptor starts, and the next note starts, at the alignment after the
         * 12-byte header plus name, and after the descriptor (as binutils lays them). */
        uint64_t desc_at = align_up(sizeof header + uint64_t{header.n_namesz}, alignment);
        if (desc_at > left || header.n_descsz > left - desc_at)
            return false; /* runs past the section: the rest cannot be trusted */
        uint64_t next = align_up(desc_at + header.n_descsz, alignment);

        if (header.n_type == QV_VERSION_NOTE_TYPE && header.n_namesz == sizeof owner &&
            header.n_descsz > 0 && header.n_descsz <= QV_VERSION_NOTE_MAX) {
            char name[sizeof owner];
            if (!read_at(fd, start + at + sizeof header, name, sizeof name))
                return false;
            if (memcmp(name, owner, sizeof owner) == 0) {
                *desc_offset = start + at + desc_at;
                *desc_size = header.n_descsz;
                return true;
            }
        }
        if (next >= left || next > *budget)
            return false;
        *budget -= next;
        at += next;
    }
    return false;
}

/* Locates the version note's contents in the open file of file_size bytes. */
static bool locate_note(int fd, uint64_t file_size, uint64_t *desc_offset, uint32_t *desc_size)
{
    Elf64_Ehdr elf;
    if (!read_at(fd, 0, &elf, sizeof elf))
        return false;
    if (memcmp(elf.e_ident, ELFMAG, SELFMAG) != 0 || elf.e_ident[EI_CLASS] != ELFCLASS64 ||
        elf.e_ident[EI_DATA] != ELFDATA2LSB || elf.e_ident[EI_VERSION] != EV_CURRENT)
        return false;
    if (elf.e_shentsize != sizeof(Elf64_Shdr) || elf.e_shnum == 0)
        return false;
    if (!span_fits(elf.e_shoff, uint64_t{elf.e_shnum} * sizeof(Elf64_Shdr), file_size))
        return false;

    uint64_t budget = QV_NOTE_SCAN_MAX;
    for (unsigned i = 0; i < elf.e_shnum; i++) {
        Elf64_Shdr section;
        if (!read_at(fd, elf.e_shoff + uint64_t{i} * sizeof section, &section, sizeof section))
            return false;
        /* A section beyond the scan budget is skipped, not walked. */
        if (section.sh_type != SHT_NOTE || section.sh_size > budget ||
            !span_fits(section.sh_offset, section.sh_size, file_size))
            continue;
        uint64_t alignment = section.sh_addralign == 8 ? 8 : 4;
        if (find_in_section(fd, section.sh_offset, section.sh_size, alignment, &budget, desc_offset,
                            desc_size))
            return true;
    }
    return false;
}

/* Opens path for reading if it is a regular file; -1 otherwise. O_NONBLOCK keeps a FIFO
 * from blocking the open; it is refused right after. */
static int open_regular(const char *path, uint64_t *file_size)
{
    if (path == nullptr)
        return -1;
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
        close(fd);
        return -1;
    }
    *file_size = static_cast<uint64_t>(st.st_size);
    return fd;
}

/* Opens the regular file at path and finds its version note. Returns the open
 * descriptor (the caller closes it) with the note's offset and size, or -1 with
 * *failure 3 when the file cannot be opened, 1 when it holds no note. */
static int open_note(const char *path, uint64_t *offset, uint32_t *size, unsigned *failure)
{
    uint64_t file_size = 0;
    int fd = open_regular(path, &file_size);
    *failure = 3;
    if (fd >= 0 && !locate_note(fd, file_size, offset, size)) {
        close(fd);
        fd = -1;
        *failure = 1;
    }
    return fd;
}

uint32_t qv_version_note_size(const char *path)
{
    uint64_t offset = 0;
    uint32_t size = 0;
    unsigned failure;
    int fd = open_note(path, &offset, &size, &failure);
    if (fd < 0)
        return 0;
    close(fd);
    return size;
}

unsigned qv_version_note_read(const char *path, uint32_t size, void *block)
{
    if (block == nullptr || size == 0)
        return 1;
    uint64_t offset = 0;
    uint32_t found = 0;
    unsigned failure;
    int fd = open_note(path, &offset, &found, &failure);
    if (fd < 0)
        return failure;
    unsigned status = 0;
    if (found != size)
        status = 1;
    else if (!read_at(fd, offset, block, size))
        status = 3;
    close(fd);
    return status;
}

/* Takes one zero-terminated text off the front of [*cursor, *cursor + *left). Returns it,
 * or null when no terminator lies within the bytes left. */
static const char *take_text(const unsigned char **cursor, uint32_t *left, uint32_t *length)
{
    const void *end = memchr(*cursor, '\0', *left);
    if (end == nullptr)
        return nullptr;
    const char *text = reinterpret_cast<const char *>(*cursor);
    uint32_t n = static_cast<uint32_t>(static_cast<const unsigned char *>(end) - *cursor);
    *cursor += n + 1;
    *left -= n + 1;
    *length = n;
    return text;
}

bool qv_version_note_query(const void *block, uint32_t size, const char *query, const void **value,
                           uint32_t *length)
{
    if (block == nullptr || query == nullptr || value == nullptr || length == nullptr)
        return false;
    const unsigned char *bytes = static_cast<const unsigned char *>(block);
    QVVersionNoteHead head;
    if (size < sizeof head)
        return false;
    memcpy(&head, bytes, sizeof head);
    if (head.fixed.signature != QV_VERSION_SIGNATURE || head.fixed.layout != QV_VERSION_LAYOUT)
        return false;
    uint32_t rest = size - static_cast<uint32_t>(sizeof head);
    if (head.translation_count > rest / sizeof(QVVersionTranslation))
        return false;
    uint32_t table_size =
        head.translation_count * static_cast<uint32_t>(sizeof(QVVersionTranslation));
    if (head.strings_size > rest - table_size)
        return false;

    if (strcmp(query, "\\") == 0) {
        *value = bytes;
        *length = sizeof(QVVersionFixed);
        return true;
    }
    if (strcmp(query, "\\VarFileInfo\\Translation") == 0) {
        if (table_size == 0)
            return false;
        *value = bytes + sizeof head;
        *length = table_size;
        return true;
    }
    const unsigned char *cursor = bytes + sizeof head + table_size;
    uint32_t left = head.strings_size;
    while (left > 0) {
        uint32_t path_length = 0, text_length = 0;
        const char *path = take_text(&cursor, &left, &path_length);
        if (path == nullptr || path_length == 0)
            return false;
        const char *text = take_text(&cursor, &left, &text_length);
        if (text == nullptr)
            return false;
        if (strcmp(path, query) == 0) {
            *value = text;
            *length = text_length;
            return true;
        }
    }
    return false;
}
