// The plug-in module as the host sees it: loaded by path, `main` and the
// stand-in host's thread control its only exported symbols, the command
// sequence through the loaded entry.
#include <elf.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness/harness.h"
#include "host/params.h"

namespace {

// Defined symbols of an ELF64 module's dynamic symbol table.
std::vector<std::string> ExportedSymbols(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> names;
    if (file.size() < sizeof(Elf64_Ehdr)) return names;
    Elf64_Ehdr eh;
    std::memcpy(&eh, file.data(), sizeof eh);
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64)
        return names;
    std::vector<Elf64_Shdr> sections(eh.e_shnum);
    std::memcpy(sections.data(), file.data() + eh.e_shoff, eh.e_shnum * sizeof(Elf64_Shdr));
    for (const Elf64_Shdr& sh : sections) {
        if (sh.sh_type != SHT_DYNSYM) continue;
        const Elf64_Shdr& strtab = sections[sh.sh_link];
        for (size_t off = 0; off + sizeof(Elf64_Sym) <= sh.sh_size; off += sizeof(Elf64_Sym)) {
            Elf64_Sym sym;
            std::memcpy(&sym, file.data() + sh.sh_offset + off, sizeof sym);
            int bind = ELF64_ST_BIND(sym.st_info);
            if (sym.st_shndx == SHN_UNDEF ||
                (bind != STB_GLOBAL && bind != STB_WEAK && bind != STB_GNU_UNIQUE))
                continue;
            names.push_back(file.data() + strtab.sh_offset + sym.st_name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(Module, ExportsOnlyMainAndTheThreadControl) {
    EXPECT_EQ(ExportedSymbols(ORVO_MODULE_PATH),
              (std::vector<std::string>{"main", "orvo_set_thread_count"}));
}

TEST(Module, RunsTheCommandSequenceThroughTheLoadedEntry) {
    harness::Host host;
    host.LoadModule(ORVO_MODULE_PATH);
    ASSERT_TRUE(host.HasEntry());
    std::string about;
    EXPECT_EQ(host.About(&about), 0);
    EXPECT_EQ(about.rfind("Orvo for AE, v1.0\r\n", 0), 0u) << about;
    ASSERT_EQ(host.Setup(), 0);
    ASSERT_EQ(host.Params().size(), std::size(kParamTable));
    for (int i = 0; i < kRegisteredParamCount; ++i)
        EXPECT_EQ(host.Params()[size_t(i)].name, kParamTable[i].name);
    EXPECT_EQ((std::vector<PF_Err>{host.SequenceResetup(), host.Command(PF_Cmd_FRAME_SETUP),
                                   host.Teardown()}),
              (std::vector<PF_Err>(3, 0)));
    EXPECT_EQ(host.LiveHandles(), 0u);
    EXPECT_TRUE(host.Problems().empty());
}

TEST(Module, LoaderErrorsAreClear) {
    {
        harness::Host host;
        try {
            host.LoadModule(ORVO_NO_ENTRY_MODULE_PATH);
            FAIL() << "a module without main was accepted";
        } catch (const harness::Error& e) {
            EXPECT_NE(std::string(e.what()).find("no entry point 'main'"), std::string::npos)
                << e.what();
        }
        EXPECT_FALSE(host.HasEntry());
    }
    harness::Host host;
    EXPECT_THROW(host.LoadModule("/nonexistent/AEORVO.so"), harness::Error);
    host.LoadModule(ORVO_MODULE_PATH);
    EXPECT_THROW(host.LoadModule(ORVO_MODULE_PATH), harness::Error); // already bound
}
