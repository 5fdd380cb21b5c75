// orvo: keys stills, image sequences and videos with the Orvo plug-in, driven
// through the stand-in host.
#include <cstdio>
#include <strings.h>
#include <exception>
#include <new>
#include <string>

#include <CLI/CLI.hpp>

#include "demo.h"
#include "effect.h"
#include "errors.h"
#include "farm_cli.h"
#include "files.h"
#include "host/params.h"
#include "key.h"
#include "params.h"
#include "video_io.h"

using namespace orvo;

namespace {

#ifndef ORVO_VERSION
#define ORVO_VERSION "1.0"
#endif

const char* const kSubcommands[] = {"key", "params", "about", "demo", "farm"};

// The part of `orvo key --help` after the options: views, value forms, exit codes.
std::string KeyHelpFooter() {
    std::string views;
    try {
        Effect effect(FindPluginModule());
        ParamSet params(effect.Params());
        const ParamInfo& show = params.Info("Show");
        for (size_t k = 0; k < show.choices.size(); ++k)
            views += (k < 9 ? "   " : "  ") + std::to_string(k + 1) + "  " + show.choices[k] +
                     (int(k) + 1 == ShowComposite ? "   (the default)" : "") + "\n";
    } catch (const std::exception& e) {
        views = "  (the plug-in could not be loaded to list them: " + std::string(e.what()) + ")\n";
    }
    return "Views (--show, by number or name, any letter case):\n" + views +
           "\n"
           "Values (--set \"Name=value\", by display name or snake_case name, see `orvo params`):\n"
           "  sliders integers; decimal sliders numbers (sent as 16.16, rounded);\n"
           "  checkboxes on/off/1/0/true/false; colours R,G,B or #RRGGBB;\n"
           "  points x,y in pixels of the full-resolution frame (outside the frame allowed);\n"
           "  popups their number or choice text.\n"
           "  Without \"Chroma Color\" the key colour is measured from the first frame.\n"
           "\n"
           "Exit status:\n"
           "  0 done; 2 bad usage or bad input (nothing rendered, nothing written);\n"
           "  3 the effect reported a message (the run stops there; that frame and later\n"
           "    ones are not written); 1 anything else (the output is not left half-written).\n";
}

// The options of `orvo key` (shared with every command that keys like it).
void AddKeyOptions(CLI::App* cmd, KeyOptions* key) {
    cmd->add_option("--fg", key->fg,
                    "foreground: still, sequence (name.%04d.png, name.####.png) or video")
        ->required();
    cmd->add_option("--bg", key->bg, "background: still, sequence or video");
    cmd->add_option("--key-in", key->keyIn,
                    "key-in matte (its alpha, or its first channel when it has none)");
    cmd->add_option("-o,--output", key->out, "output: still, sequence pattern or video")
        ->required();
    cmd->add_option("--show", key->show, "view: number or name (default Composite)");
    cmd->add_flag("--draft", key->draft, "draft quality (fast hard-switch composite)");
    cmd->add_option("--set", key->sets, "\"Parameter Name=value\" (repeatable)");
    cmd->add_option("--preset", key->preset, "read parameter values from a JSON preset");
    cmd->add_option("--save-preset", key->savePreset, "write the parameter values as a preset");
    cmd->add_option("--frames", key->frames, "frame range A-B of a sequence or video");
    cmd->add_option("--resolution", key->resolution, "full, half, third or quarter");
    cmd->add_option("--bg-fit", key->bgFit,
                    "a background of another size: cover (default: scale, centred crop), "
                    "contain, stretch or none");
    cmd->add_option("--codec", key->codec,
                    "video codec of a .mov output: png (default, lossless) or prores (4444)");
    cmd->add_flag("-q,--quiet", key->quiet, "no progress, choices or summary lines");
    cmd->footer([] { return KeyHelpFooter(); });
}

} // namespace

int main(int argc, char** argv) {
    RemoveTempsOnInterrupt();
    CLI::App app{"orvo: chroma keying with the Orvo plug-in"};
    app.require_subcommand(1);
    app.ignore_case(); // subcommands in any letter case, like every other choice
    app.set_version_flag("--version", std::string("orvo ") + ORVO_VERSION);

    KeyOptions key;
    CLI::App* keyCmd = app.add_subcommand("key", "key a foreground over a background");
    AddKeyOptions(keyCmd, &key);

    app.add_subcommand("params",
                       "list every parameter: index, name, snake_case name, type, default, ranges");
    app.add_subcommand("about", "the effect's about text");
    FarmCommand farm(&app, AddKeyOptions);
    std::string demoDir = "demo";
    CLI::App* demoCmd = app.add_subcommand("demo", "key the bundled sample, write two pictures");
    demoCmd->add_option("-o,--output", demoDir, "folder for composite.png and views.png");

    // A mistyped subcommand gets a suggestion.
    if (argc > 1 && argv[1][0] != '-') {
        const std::string word = argv[1];
        bool known = false;
        for (const char* s : kSubcommands)
            known = known || strcasecmp(word.c_str(), s) == 0;
        if (!known) {
            std::fprintf(
                stderr,
                "orvo: unknown command \"%s\"%s; commands: key, params, about, demo, farm\n",
                word.c_str(),
                DidYouMean(word, {std::begin(kSubcommands), std::end(kSubcommands)}).c_str());
            return kExitUsage;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "orvo: %s\n", e.what());
        std::fprintf(stderr, "Run with --help for more information.\n");
        return kExitUsage;
    }

    try {
        if (keyCmd->parsed()) {
            // Check what needs no plug-in first, so usage errors do not wait for it.
            ResolutionFactor(key.resolution);
            ParseBgFit(key.bgFit);
            ParseVideoCodec(key.codec);
            Effect effect(FindPluginModule());
            return RunKey(key, effect);
        }
        if (app.got_subcommand("params")) {
            Effect effect(FindPluginModule());
            ParamSet params(effect.Params());
            std::fputs(params.Listing().c_str(), stdout);
            return kExitOk;
        }
        if (app.got_subcommand("about")) {
            Effect effect(FindPluginModule());
            std::string text = effect.About();
            // The host's line break is a carriage return; "\r\n" is one break.
            std::string shown;
            for (size_t i = 0; i < text.size(); ++i) {
                if (text[i] == '\r') {
                    shown += '\n';
                    if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
                } else {
                    shown += text[i];
                }
            }
            text = shown;
            while (!text.empty() && text.back() == '\n')
                text.pop_back();
            std::printf("%s\n", text.c_str());
            return kExitOk;
        }
        if (farm.parsed()) return farm.Run();
        if (demoCmd->parsed()) {
            Effect effect(FindPluginModule());
            return RunDemo(demoDir, effect);
        }
    } catch (const ToolError& e) {
        std::fprintf(stderr, "orvo: %s\n", e.what());
        return e.code();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "orvo: not enough memory\n");
        return kExitFailure;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvo: %s\n", e.what());
        return kExitFailure;
    }
    return kExitUsage;
}
