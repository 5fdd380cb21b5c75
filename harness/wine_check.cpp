// Loads the Windows plug-in (AEORVO.aex) through its PiPL, as the host does,
// and runs the command sequence with checks: about text, the forty
// parameters, the sequence record's life cycle and a render. Exit code 0 when
// every check passes. Usage: orvo_wine_check <path to AEORVO.aex>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "harness/harness.h"
#include "host/params.h"

namespace {

int g_failures = 0;

void Check(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    if (!ok) ++g_failures;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s AEORVO.aex\n", argv[0]);
        return 2;
    }
    std::printf("pointer size %u; loading %s\n", unsigned(sizeof(void*)), argv[1]);
    try {
        harness::Host host;
        host.LoadModule(argv[1]);
        const harness::Pipl& pipl = host.ModulePipl();
        Check(pipl.properties.size() == 11, "PiPL has eleven properties");
        Check(pipl.PascalString(harness::FourCC("name")) == "Orvo", "PiPL name Orvo");
        Check(pipl.PascalString(harness::FourCC("catg")) == "Keying", "PiPL category Keying");
        Check(pipl.Word32(harness::FourCC("eVER")) == 0x00080600, "PiPL version 0x00080600");
        Check(pipl.Word32(harness::FourCC("eGLO")) == 0x800, "PiPL global flags 0x800");

        std::string about;
        Check(host.About(&about) == 0, "about returns 0");
        Check(about.rfind("Orvo for AE, v1.0\r\nChromakey with shadows, color corrections\n"
                          "and natural color spill replacements.\n\n",
                          0) == 0,
              "about text");

        Check(host.GlobalSetup() == 0, "global set-up returns 0");
        Check(host.GlobalOutFlags() == 0x800, "global out flags 0x800");
        Check(host.Version() == 0x00080600, "my_version 0x00080600");
        Check(host.GlobalOutFlags() == PF_OutFlags(pipl.Word32(harness::FourCC("eGLO"))),
              "out flags equal the PiPL's");

        Check(host.ParamsSetup() == 0, "parameter set-up returns 0");
        Check(host.NumParams() == kParamCount, "num_params: the input layer and the table");
        bool namesOk = host.Params().size() == std::size(kParamTable);
        for (size_t i = 0; namesOk && i < std::size(kParamTable); ++i)
            namesOk = host.Params()[i].name == kParamTable[i].name &&
                      host.Params()[i].type == kParamTable[i].type;
        Check(namesOk, "the registered parameters have the table's names and types");
        Check(host.Param(ParamTransparencyThreshold).def.u.fd.value == 0x004B0000,
              "Transparency Threshold 0x004B0000");
        Check(host.Param(ParamCropPosition).def.u.td.x_dephault == 0x00280000,
              "Crop Position default 0x00280000");
        Check(host.Param(ParamShow).choices.size() == 11 &&
                  host.Param(ParamShow).choices[10] == "Composite",
              "Show popup with eleven choices");

        Check(host.SequenceSetup() == 0 && host.SequenceHandle() != nullptr,
              "sequence set-up gives a handle");
        Check(host.HandleBytes(host.SequenceHandle()) == std::vector<uint8_t>(16, 0),
              "the record is sixteen zero bytes");
        Check(host.OutData().flat_sdata_size == 16, "flat_sdata_size 16");
        uint8_t* record = static_cast<uint8_t*>(*host.SequenceHandle());
        for (int i = 0; i < 16; ++i)
            record[i] = 0xAA;
        Check(host.SequenceResetup() == 0, "re-set-up returns 0");
        std::vector<uint8_t> bytes = host.HandleBytes(host.SequenceHandle());
        bool cleared = bytes.size() == 16;
        for (int i = 0; cleared && i < 16; ++i)
            cleared = bytes[size_t(i)] == (i <= 10 ? 0 : 0xAA);
        Check(cleared, "re-set-up clears bytes 0-10");

        harness::Frame fg(64, 32), out(64, 32);
        fg.Fill(255, 86, 112, 200);
        host.SetLayer(0, &fg);
        host.SetPopup(ParamShow, ShowForeground);
        harness::RenderResult r = host.Render(out);
        Check(r.err == 0, "render returns 0");

        // A keyed frame stores the key colour in the record; a handle too
        // short for the record (its size read through host_get_handle_size)
        // is measured anew and left alone.
        harness::Frame bg(64, 32);
        bg.Fill(255, 20, 30, 40);
        host.SetLayer(ParamBackground, &bg);
        host.SetPopup(ParamShow, ShowComposite);
        r = host.Render(out);
        bytes = host.HandleBytes(host.SequenceHandle());
        Check(r.err == 0 && bytes.size() == 16 && bytes[8] == 200 && bytes[9] == 112 &&
                  bytes[10] == 86,
              "a keyed render stores the key colour (blue, green, red) in bytes 8-10");
        PF_Handle record16 = host.SequenceHandle();
        PF_Handle shortRecord = host.NewHandle(4);
        host.SetSequenceHandle(shortRecord);
        r = host.Render(out);
        Check(r.err == 0 && host.HandleBytes(shortRecord) == std::vector<uint8_t>(4, 0),
              "a 4-byte record renders and stays untouched");
        host.SetSequenceHandle(record16);
        host.DisposeHandle(shortRecord);

        for (PF_Cmd cmd : {2, 3, 7, 9, 10, 12, 99})
            Check(host.Command(cmd) == 0, "command " + std::to_string(cmd) + " returns 0");

        Check(host.SequenceSetdown() == 0, "set-down returns 0");
        Check(host.LiveHandles() == 0, "no handle left");
        Check(host.SequenceSetdown() == 0, "set-down with a null handle returns 0");
        for (const std::string& p : host.Problems())
            std::printf("problem: %s\n", p.c_str());
        Check(host.Problems().empty(), "no problems toward the host");
    } catch (const std::exception& e) {
        std::printf("FAIL %s\n", e.what());
        return 1;
    }
    std::printf("%s: %d failure(s)\n", g_failures ? "FAILED" : "PASSED", g_failures);
    return g_failures ? 1 : 0;
}
