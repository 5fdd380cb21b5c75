// orvo: keys stills, image sequences and videos with the Orvo plug-in, driven
// through the stand-in host.
#include <cstdio>
#include <exception>
#include <string>

#include <CLI/CLI.hpp>

#include "demo.h"
#include "effect.h"
#include "errors.h"
#include "farm_cli.h"
#include "files.h"
#include "key.h"
#include "params.h"

using namespace orvo;

// Every option of `orvo key` (also taken by `orvo farm submit`).
static void AddKeyOptions(CLI::App* cmd, KeyOptions* key) {
    cmd->add_option("--fg", key->fg,
                    "foreground: still, sequence (name.%04d.png, name.####.png) or video")
        ->required();
    cmd->add_option("--bg", key->bg, "background: still, sequence or video");
    cmd->add_option("--key-in", key->keyIn,
                    "key-in matte (its alpha, or its first channel when it has none)");
    cmd->add_option("-o,--output", key->out, "output: still, sequence pattern or video")
        ->required();
    cmd->add_option("--show", key->show, "view: number or name (as \"Show\")");
    cmd->add_flag("--draft", key->draft, "draft quality (fast hard-switch composite)");
    cmd->add_option("--set", key->sets, "\"Parameter Name=value\" (repeatable)");
    cmd->add_option("--preset", key->preset, "read parameter values from a JSON preset");
    cmd->add_option("--save-preset", key->savePreset, "write the parameter values as a preset");
    cmd->add_option("--frames", key->frames, "frame range A-B of a sequence or video");
    cmd->add_option("--resolution", key->resolution, "full, half, third or quarter");
    cmd->add_flag("-q,--quiet", key->quiet, "no progress display");
}

int main(int argc, char** argv) {
    RemoveTempsOnInterrupt();
    CLI::App app{"orvo: chroma keying with the Orvo plug-in"};
    app.require_subcommand(1);

    KeyOptions key;
    CLI::App* keyCmd = app.add_subcommand("key", "key a foreground over a background");
    AddKeyOptions(keyCmd, &key);

    app.add_subcommand("params", "list every parameter: index, name, type, default, ranges");
    app.add_subcommand("about", "the effect's about text");
    FarmCommand farm(&app, AddKeyOptions);
    std::string demoDir = "demo";
    CLI::App* demoCmd = app.add_subcommand("demo", "key the bundled sample, write two pictures");
    demoCmd->add_option("-o,--output", demoDir, "folder for composite.png and views.png");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
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
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvo: %s\n", e.what());
        return kExitFailure;
    }
    return kExitUsage;
}
