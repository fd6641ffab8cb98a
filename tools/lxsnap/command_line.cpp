#include "command_line.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>

#include "video_names.h"

namespace lxsnap {

namespace {

constexpr const char* kExamples = R"(Examples:
  lxsnap --list
      the cards, their slots and identity, and which inputs carry a signal
  lxsnap --card 1 --input composite1 --frames 3 --out shots --as png
      three frames of 640x480 RGB into shots/frame000.png .. frame002.png
  lxsnap --format grey --window 768x576 --scan field --frames 10 --as raw
      ten single fields of 768x288 grey bytes, as the card wrote them
  lxsnap --window 320x240+100+50 --as bmp
      a 320x240 piece of the picture from (100, 50), unscaled
  lxsnap --stream --seconds 30
      continuous snapping: frames/s, skipped frames and callback latency

The machine is booted when none runs (unless LX_MACHINE_NO_AUTOBOOT=1);
LX_MACHINE names its directory. Exit status: 0 done, 1 the card or the
machine refused (the status is printed), 2 a bad command line.)";

std::string choicesOf(const std::vector<NamedValue>& names) {
  std::string text;
  for (const NamedValue& named : names) {
    text += (text.empty() ? "" : "|") + std::string(named.name);
  }
  return text;
}

// An option whose value must be one of `names`; stores the value's number.
template <typename Target>
CLI::Option* addNamedOption(CLI::App& app, const std::string& flag, const std::vector<NamedValue>& names,
                            Target* target, const std::string& description) {
  return app
      .add_option_function<std::string>(
          flag,
          [&names, target, flag](const std::string& text) {
            for (const NamedValue& named : names) {
              if (text == named.name) {
                *target = named.value;
                return;
              }
            }
            throw CLI::ValidationError(flag, "'" + text + "' is not one of " + choicesOf(names));
          },
          description)
      ->type_name(choicesOf(names));
}

}  // namespace

const char* fileExtension(FileKind kind) {
  switch (kind) {
    case FileKind::Bmp: return "bmp";
    case FileKind::Png: return "png";
    case FileKind::Raw: return "raw";
  }
  return "bin";
}

std::optional<int> parseCommandLine(int argc, char** argv, Options* options) {
  CLI::App app("lxsnap: snaps frames of a capture card into image files, lists the cards, or measures "
               "continuous snapping. Uses the public video API like any program.",
               "lxsnap");
  app.footer(kExamples);
  app.get_formatter()->column_width(34);

  bool list = false;
  bool stream = false;
  auto* listFlag = app.add_flag("--list", list, "List the cards and the inputs that carry a signal");
  auto* streamFlag = app.add_flag("--stream", stream, "Snap continuously and report frames/s, skips and latency");

  VideoSettings& video = options->video;
  auto* cardOption = app.add_option("--card", video.card, "Global card number (1 to 128)")
                         ->check(CLI::Range(1, 128))
                         ->capture_default_str();
  auto* inputOption = app.add_option_function<std::string>(
                             "--input",
                             [&video](const std::string& text) {
                               video.input = parseInput(text);
                               if (!video.input) {
                                 throw CLI::ValidationError(
                                     "--input", "'" + text + "' is not an input: composite1.., svideo1.. or ycbcr1..");
                               }
                             },
                             "Input: composite1, composite2, ..., svideo1, ..., ycbcr1, ... (default: the card's)")
                         ->type_name("INPUT");
  int32_t standard = 0;
  auto* standardOption = addNamedOption(app, "--std", standardNames(), &standard, "Video standard (default: the card's)");
  auto* formatOption = addNamedOption(app, "--format", formatNames(), &video.format, "Pixel format (default rgb888)");
  auto* windowOption = app.add_option_function<std::string>(
                              "--window",
                              [&video](const std::string& text) {
                                const auto geometry = parseWindowGeometry(text);
                                if (!geometry) {
                                  throw CLI::ValidationError("--window", "'" + text + "' is not WxH or WxH+X+Y");
                                }
                                video.window = *geometry;
                              },
                              "Picture size (frame height); +X+Y cuts it unscaled from the source at X, Y "
                              "(default 640x480)")
                          ->type_name("WxH[+X+Y]");
  auto* scanOption = addNamedOption(app, "--scan", scanNames(), &video.scan,
                                    "frame: both fields; field, field1: one field, half the height (default frame)");

  auto* framesOption = app.add_option("-n,--frames", options->frames, "Frames to snap (1 to 65535)")
                           ->check(CLI::Range(1, 65535))
                           ->capture_default_str();
  auto* outOption = app.add_option("-o,--out", options->directory, "Directory for the files (made if missing)")
                        ->capture_default_str();
  static const std::vector<NamedValue> kFileKinds = {{"bmp", static_cast<int32_t>(FileKind::Bmp)},
                                                     {"png", static_cast<int32_t>(FileKind::Png)},
                                                     {"raw", static_cast<int32_t>(FileKind::Raw)}};
  int32_t fileKind = static_cast<int32_t>(FileKind::Bmp);
  auto* asOption = addNamedOption(app, "--as", kFileKinds, &fileKind,
                                  "File kind: bmp, png (grey formats 8-bit grey, others 24-bit colour) or raw "
                                  "(the card's bytes) (default bmp)");
  auto* secondsOption = app.add_option("--seconds", options->seconds, "With --stream: how long; 0 until Ctrl-C")
                            ->check(CLI::Range(0.0, 86400.0))
                            ->capture_default_str();

  listFlag->excludes(streamFlag);
  for (CLI::Option* snapOnly : {framesOption, outOption, asOption}) {
    streamFlag->excludes(snapOnly);
    listFlag->excludes(snapOnly);
  }
  for (CLI::Option* videoOnly :
       {cardOption, inputOption, standardOption, formatOption, windowOption, scanOption, secondsOption}) {
    listFlag->excludes(videoOnly);
  }
  secondsOption->needs(streamFlag);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::ParseError& error) {
    std::fprintf(stderr, "lxsnap: %s\nRun 'lxsnap --help' for the options and examples.\n", error.what());
    return kUsageExit;
  }
  if (*standardOption) {
    video.standard = standard;
  }
  options->fileKind = static_cast<FileKind>(fileKind);
  options->mode = list ? Mode::List : stream ? Mode::Stream : Mode::Snap;
  return std::nullopt;
}

}  // namespace lxsnap
