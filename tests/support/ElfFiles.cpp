/*
 * ElfFiles: notes and ELF files made in memory.
 */
#include "tests/support/ElfFiles.h"

#include <elf.h>

#include <cstring>

template <typename T> static void put(std::string &out, const T &value)
{
    out.append(reinterpret_cast<const char *>(&value), sizeof value);
}

std::string elf_note(const std::string &owner, uint32_t type, const std::string &desc,
                     size_t alignment)
{
    std::string out;
    put(out, static_cast<uint32_t>(owner.size() + 1));
    put(out, static_cast<uint32_t>(desc.size()));
    put(out, type);
    out += owner;
    out += '\0';
    while (out.size() % alignment)
        out += '\0';
    out += desc;
    while (out.size() % alignment)
        out += '\0';
    return out;
}

std::string elf_file(const std::vector<ElfSection> &sections)
{
    std::string data;
    std::vector<uint64_t> offsets;
    for (const ElfSection &s : sections) {
        while ((sizeof(Elf64_Ehdr) + data.size()) % 8)
            data += '\0';
        offsets.push_back(sizeof(Elf64_Ehdr) + data.size());
        data += s.data;
    }
    while ((sizeof(Elf64_Ehdr) + data.size()) % 8)
        data += '\0';

    Elf64_Ehdr header{};
    memcpy(header.e_ident, ELFMAG, SELFMAG);
    header.e_ident[EI_CLASS] = ELFCLASS64;
    header.e_ident[EI_DATA] = ELFDATA2LSB;
    header.e_ident[EI_VERSION] = EV_CURRENT;
    header.e_type = ET_EXEC;
    header.e_machine = EM_X86_64;
    header.e_version = EV_CURRENT;
    header.e_ehsize = sizeof(Elf64_Ehdr);
    header.e_shentsize = sizeof(Elf64_Shdr);
    header.e_shnum = static_cast<uint16_t>(sections.size() + 1);
    header.e_shoff = sizeof(Elf64_Ehdr) + data.size();

    std::string out;
    put(out, header);
    out += data;
    put(out, Elf64_Shdr{});
    for (size_t i = 0; i < sections.size(); i++) {
        Elf64_Shdr sh{};
        sh.sh_type = sections[i].type;
        sh.sh_flags = SHF_ALLOC;
        sh.sh_offset = offsets[i];
        sh.sh_size = sections[i].data.size();
        sh.sh_addralign = sections[i].alignment;
        put(out, sh);
    }
    return out;
}
