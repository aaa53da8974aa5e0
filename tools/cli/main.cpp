// vm316: the oscilloscope board from a terminal. The command line is read here; the
// subcommands live in commands.cpp and capture_commands.cpp.
#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "shared/errors.h"
#include "shared/interrupt.h"
#include "shared/options.h"
#include "shared/signal_wiring.h"
#include "shared/terminal_plot.h"
#include "shared/units.h"
#ifdef VM316_WITH_SERVE
#include "serve/serve.h"
#include "serve/serve_access.h"
#endif

namespace {

using namespace vm316::cli;
using namespace vm316::host;

constexpr const char* kVersion = "vm316 0.1.0";

// A CLI11 check that runs one of our value parsers, so that a malformed value is reported
// while the line is read, with the usage.
template <typename Parser>
CLI::Validator Checked(Parser parser, const std::string& name) {
  return CLI::Validator(
      [parser](std::string& text) {
        std::string error;
        return parser(text, &error) ? std::string() : error;
      },
      "", name);
}

template <typename Apply>
CLI::Validator CheckedAssignment(Apply apply, const std::string& name) {
  return Checked(
      [apply](std::string_view text, std::string* error) {
        std::array<ChannelOption, kChannelCount> scratch;
        return apply(text, scratch, error);
      },
      name);
}

// The option strings as typed; converted once the whole line has been read and checked.
struct AcquisitionText {
  std::string channels = "12";
  std::string rate = "100k";
  std::string length = "1000";
  std::string post;
  std::string time;
  std::vector<std::string> ranges, couplings, dc_levels;
  std::string trigger;
  std::string hysteresis;
  std::string timeout = "1000";
  std::string style = "auto";
  std::string generator;
  std::string width = std::to_string(kDefaultPlotWidth);
  std::string height = std::to_string(kDefaultPlotHeight);
};

CLI::Validator Bounded(std::uint64_t min, std::uint64_t max, const std::string& what) {
  return Checked(
      [min, max, what](std::string_view text, std::string* error) {
        return ParseBoundedCount(text, min, max, what, error);
      },
      "N");
}

CLI::Validator Samples() {
  return Checked(ParseSamples, "N");
}

void AddAcquisitionOptions(CLI::App* command, AcquisitionText& text, bool with_style) {
  command->add_option("--channels", text.channels, "channels to record: 1, 2 or 12")
      ->check(Checked(ParseChannelMask, "CHANNELS"))
      ->type_name("1|2|12")
      ->capture_default_str();
  command->add_option("--rate", text.rate, "sample rate (100k, 2.5MHz; 0.61 Hz .. 20 MHz)")
      ->check(Checked(ParseRate, "RATE"))
      ->type_name("HZ")
      ->capture_default_str();
  command->add_option("--length", text.length, "record length in samples (2 .. 32760, 10k)")
      ->check(Samples())
      ->type_name("N")
      ->capture_default_str();
  command
      ->add_option("--time", text.time,
                   "capture this long (10ms, 2s): the length follows from the rate, or the rate "
                   "from the length when both cannot be met")
      ->check(
          Checked([](std::string_view t, std::string* e) { return ParseTime(t, 1.0, e); }, "TIME"))
      ->type_name("TIME");
  command
      ->add_option("--post", text.post,
                   "samples after the trigger (default: 90 % of the record, a tenth before it)")
      ->check(Samples())
      ->type_name("N");
  command->add_option("--range", text.ranges, "full scale of a channel, or auto (repeatable)")
      ->check(CheckedAssignment(ApplyRange, "RANGE"))
      ->type_name("CH=VOLTS|auto");
  command->add_option("--coupling", text.couplings, "input coupling of a channel")
      ->check(CheckedAssignment(ApplyCoupling, "COUPLING"))
      ->type_name("CH=ac|dc");
  command
      ->add_option("--dc-level", text.dc_levels,
                   "DC level of a channel: the middle of its range's window")
      ->check(CheckedAssignment(ApplyDcLevel, "DC_LEVEL"))
      ->type_name("CH=VOLTS");
  command
      ->add_option("--trigger", text.trigger,
                   "trigger: SOURCE ch1|ch2|ext|and|or|none, slope, level in volts or auto "
                   "(default: the first channel, rising, half way up the signal)")
      ->check(Checked(ParseTrigger, "TRIGGER"))
      ->type_name("SOURCE[:rising|falling][:LEVEL]");
  command->add_option("--hysteresis", text.hysteresis, "trigger hysteresis in volts (0.1, 50mV)")
      ->check(Checked(ParseVolts, "VOLTS"))
      ->type_name("VOLTS");
  command
      ->add_option("--timeout", text.timeout,
                   "force the trigger after this long (1000 for ms, 2s, 500ms), or none")
      ->check(Checked(ParseTimeout, "TIMEOUT"))
      ->type_name("TIME|none")
      ->capture_default_str();
  if (with_style) {
    command
        ->add_option("--style", text.style,
                     "block (ADC_Start, ADC_Triggered, ADC_Ready, ADC_GetData; the default, "
                     "auto) or blocking (StartMeasurement, which cannot say Trig'd or Auto)")
        ->check(Checked(ParseStyle, "STYLE"))
        ->type_name("blocking|block|auto")
        ->capture_default_str();
  }
  command
      ->add_option("--generator", text.generator,
                   "square-wave output during the run, 100 Hz .. 100 kHz, or off (default on "
                   "the simulated board: 1 kHz when an input is wired to it)")
      ->check(Checked(ParseGeneratorFrequency, "HZ"))
      ->type_name("HZ|off");
  command
      ->add_option("--width", text.width,
                   "plot width in characters (" + std::to_string(kMinPlotWidth) + " .. " +
                       std::to_string(kMaxPlotWidth) + ")")
      ->check(Bounded(kMinPlotWidth, kMaxPlotWidth, "the plot width"))
      ->type_name("N")
      ->capture_default_str();
  command
      ->add_option("--height", text.height,
                   "plot height in lines (" + std::to_string(kMinPlotHeight) + " .. " +
                       std::to_string(kMaxPlotHeight) + ")")
      ->check(Bounded(kMinPlotHeight, kMaxPlotHeight, "the plot height"))
      ->type_name("N")
      ->capture_default_str();
}

template <typename T, typename Parser>
T Parsed(Parser parser, std::string_view text) {
  return *parser(text, nullptr);
}

AcquisitionOptions ToAcquisition(const AcquisitionText& text) {
  AcquisitionOptions options;
  options.channel_mask = Parsed<int>(ParseChannelMask, text.channels);
  options.rate = Parsed<double>(ParseRate, text.rate);
  options.length = Parsed<std::uint32_t>(ParseSamples, text.length);
  if (!text.post.empty()) options.post = Parsed<std::uint32_t>(ParseSamples, text.post);
  if (!text.time.empty()) options.time = ParseTime(text.time, 1.0, nullptr);
  for (const std::string& range : text.ranges) ApplyRange(range, options.channels, nullptr);
  for (const std::string& coupling : text.couplings) {
    ApplyCoupling(coupling, options.channels, nullptr);
  }
  for (const std::string& level : text.dc_levels) ApplyDcLevel(level, options.channels, nullptr);
  if (!text.trigger.empty()) {
    options.trigger = Parsed<TriggerOption>(ParseTrigger, text.trigger);
  } else if (options.channel_mask == 2) {
    options.trigger.source = TriggerSourceOption::kCh2;
  }
  if (!text.hysteresis.empty()) options.hysteresis = Parsed<double>(ParseVolts, text.hysteresis);
  options.timeout_ms = Parsed<std::int64_t>(ParseTimeout, text.timeout);
  options.style = Parsed<CaptureStyle>(ParseStyle, text.style);
  if (!text.generator.empty()) {
    options.generator = Parsed<double>(ParseGeneratorFrequency, text.generator);
  }
  return options;
}

int Count(const std::string& text) {
  return static_cast<int>(*ParseWholeNumber(text));
}

// Output files are named from where the user stands, before the host enters its state
// directory.
std::string Absolute(const std::string& path) {
  if (path.empty() || path == "-") return path;
  return std::filesystem::absolute(path).string();
}

// What a run file cannot be asked to do, in the words of the usage error.
std::optional<std::string> RefusedRunFile(const MeasureOutputs& outputs) {
  if (outputs.single_file && outputs.csv_path.empty()) return "--single-file needs -o FILE";
  if (outputs.single_file && WritesSigrok(outputs)) {
    return "a sigrok session file holds one record: --single-file writes CSV (or -o FILE.h5)";
  }
  if (!WritesHdf5(outputs)) return std::nullopt;
  if (outputs.csv_path == "-") return "an HDF5 file needs a file name, not -";
  if (outputs.raw || outputs.no_metadata) {
    return "an HDF5 file holds the volts, the raw codes and the settings: leave out --raw and "
           "--no-metadata";
  }
  return std::nullopt;
}

CLI::App* ParsedSubcommand(CLI::App& app) {
  for (CLI::App* command : app.get_subcommands()) {
    if (command->parsed()) return command;
  }
  return nullptr;
}

std::string SeeHelp(const CLI::App* command) {
  return command != nullptr ? "see `vm316 " + command->get_name() + " --help`"
                            : std::string("see `vm316 --help`");
}

// One line that names the option and what it takes, then where the whole usage is.
int UsageError(const CLI::App* command, const std::string& message) {
  std::fprintf(stderr, "vm316: %s\n%s\n", message.c_str(), SeeHelp(command).c_str());
  return static_cast<int>(ExitCode::kUsage);
}

int Usage(CLI::App& app, const CLI::ParseError& error) {
  if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(error);
  CLI::App* command = ParsedSubcommand(app);
  std::string message = error.what();
  if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
    std::vector<std::string> unexpected =
        command != nullptr ? command->remaining() : app.remaining();
    if (unexpected.empty()) unexpected = app.remaining();
    const std::string word = unexpected.empty() ? message : unexpected.front();
    if (command == nullptr && !word.starts_with("-")) {
      message = "unknown subcommand \"" + word + "\" (info, measure, watch, calibrate, generator)";
    } else if (word.starts_with("-")) {
      message = "unknown option " + word;
    } else {
      message = "unexpected argument \"" + word + "\"";
    }
  } else if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
    message = message.substr(0, message.find(':')) + " needs a value";
  } else if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr && command != nullptr) {
    message = message.substr(0, message.find(' ')) + " must be given";
  } else if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
    const std::vector<std::string> unknown = app.remaining();
    message = unknown.empty()
                  ? "a subcommand is needed: info, measure, watch, calibrate or generator"
                  : "unknown subcommand \"" + unknown.front() +
                        "\" (info, measure, watch, calibrate, generator)";
  }
  // An option of vm316 itself (--port, --sim-ch1, ...) is in the top-level help.
  const std::string name = message.substr(0, message.find_first_of(": "));
  if (command != nullptr && name.starts_with("--") && app.get_option_no_throw(name) != nullptr) {
    command = nullptr;
  }
  return UsageError(command, message);
}

// The options that choose the view, in measure and in watch alike.
struct ViewText {
  bool spectrum = false;
  bool xy = false;
  std::string window;
};

void AddViewOptions(CLI::App* command, ViewText& text, const char* outputs) {
  command->add_flag(
      "--spectrum", text.spectrum,
      std::string("show the amplitude spectrum in dBV, its peak and harmonics") + outputs);
  command->add_flag("--xy", text.xy,
                    "take the record in the board's XY mode and show it as a Lissajous figure "
                    "(channel 1 across, channel 2 up)");
  command
      ->add_option("--window", text.window,
                   "the spectrum's window: hann, flattop (levels within 0.01 dB) or rect")
      ->check(CLI::IsMember({"hann", "flattop", "rect"}))
      ->type_name("hann|flattop|rect")
      ->default_str("hann");
}

ViewOptions ToView(const ViewText& text) {
  ViewOptions view;
  if (text.spectrum || !text.window.empty()) {
    view.spectrum = ParseSpectrumWindow(text.window.empty() ? "hann" : text.window);
  }
  view.xy = text.xy;
  return view;
}

// Why the view cannot be had with the channels given; null when it can.
const char* ViewConflict(const ViewOptions& view, const std::string& channels) {
  if (view.spectrum && view.xy) return "--xy and --spectrum are two views: give one";
  if (view.xy && ParseChannelMask(channels, nullptr) != 3) {
    return "XY needs both channels (--channels 12)";
  }
  return nullptr;
}

// Why the spectrum cannot be written to the files asked for; null when it can.
const char* SpectrumFileConflict(const MeasureOutputs& outputs) {
  if (!outputs.view.spectrum) return nullptr;
  if (WritesSigrok(outputs)) {
    return "--spectrum writes its CSV in dBV over frequency: a sigrok session file holds "
           "records, give -o FILE.csv";
  }
  if (outputs.raw) return "--spectrum is in dBV: not with --raw codes";
  if (WritesHdf5(outputs) || outputs.single_file) {
    return "--spectrum writes one record's spectrum as CSV: not an HDF5 file or --single-file";
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  UseMicroSign(LocaleTakesUtf8());
  CLI::App app{
      "vm316: the two-channel 20 MHz oscilloscope board from a terminal.\n"
      "Without --port the simulated board is used, with channel 1 on the board's "
      "square-wave output and channel 2 on a 50 Hz sine.",
      "vm316"};
  app.set_version_flag("--version", kVersion);
  app.footer(
      "\nExamples:\n"
      "  vm316 measure                          the demonstration: a record in the terminal\n"
      "  vm316 measure -o cap.csv --svg cap.svg  the same, saved as CSV and drawn as SVG\n"
      "  vm316 measure --sim-ch1 sine:freq=1k,amp=0.5 --range 1=0.8 --rate 1M\n"
      "  vm316 watch                            live, until Ctrl-C\n"
      "  vm316 info                             board, limits and calibration\n"
      "Each subcommand has its own --help.");
  app.require_subcommand(1);
  app.fallthrough();

  BackendOptions backend;
  std::string port;
  app.add_option("--port", port, "real hardware at this I/O port base (0x378, 0x300, ...)")
      ->check(Checked(ParsePortAddress, "ADDR"))
      ->type_name("ADDR");
  const CLI::Validator signal = Checked(ParseSignalWiring, "SIGNAL");
  app.add_option("--sim-ch1", backend.sim_ch1,
                 "signal on channel 1 of the simulated board (square:freq=1k,amp=2)")
      ->check(signal)
      ->type_name("SIGNAL")
      ->capture_default_str();
  app.add_option("--sim-ch2", backend.sim_ch2, "signal on channel 2 of the simulated board")
      ->check(signal)
      ->type_name("SIGNAL")
      ->capture_default_str();
  app.add_option("--sim-ext", backend.sim_ext, "signal on the external trigger input")
      ->check(signal)
      ->type_name("SIGNAL")
      ->capture_default_str();
  app.add_option("--cal-dir", backend.cal_dir,
                 "directory of the calibration files (default: $XDG_STATE_HOME/vm316 or "
                 "~/.local/state/vm316)")
      ->check(Checked(
          [](std::string_view text, std::string* error) -> std::optional<std::string> {
            if (!text.empty() && text != "-") return std::string(text);
            if (error != nullptr)
              *error = "a directory is needed, not \"" + std::string(text) + "\"";
            return std::nullopt;
          },
          "DIR"))
      ->type_name("DIR");
  app.add_flag("--calibrate", backend.calibrate,
               "on real hardware, calibrate without asking when the day's calibration is "
               "missing (both inputs grounded)");
  app.add_flag("-q,--quiet", backend.quiet, "no notes on stderr, only errors");

  CLI::App* info = app.add_subcommand(
      "info", "the backend, the board, its calibration (never starts a calibration)");
  bool full_tables = false;
  info->add_flag("--tables", full_tables, "print the calibration tables range by range");

  CLI::App* measure = app.add_subcommand("measure", "take a record and show or save it");
  AcquisitionText measure_text;
  MeasureOutputs outputs;
  std::string count = "1";
  AddAcquisitionOptions(measure, measure_text, true);
  measure->add_option("-n,--count", count, "number of records (1, 10, 1k)")
      ->check(Bounded(1, UINT32_MAX, "the number of records"))
      ->type_name("N")
      ->capture_default_str();
  const CLI::Validator output = Checked(ParseOutputPath, "FILE");
  measure
      ->add_option("-o,--output", outputs.csv_path,
                   "write the record as CSV (- for stdout), or as a sigrok session file "
                   "(FILE.sr); numbered with --count; FILE.h5 holds the whole run")
      ->check(output)
      ->type_name("FILE.csv");
  measure
      ->add_option("--format", outputs.format,
                   "what -o writes: csv, sr (a sigrok session file for sigrok-cli and "
                   "PulseView) or h5 (HDF5, every record of the run); default: from the file "
                   "name, .sr, .h5 or .hdf5, or else csv")
      ->check(CLI::IsMember({"csv", "sr", "h5"}))
      ->type_name("csv|sr|h5");
  measure->add_flag("--single-file", outputs.single_file,
                    "with --count, every record in the one CSV -o names, with a record column");
  ViewText measure_view;
  AddViewOptions(measure, measure_view, "; -o writes it as CSV, --svg draws it");
  measure->add_flag("--no-metadata", outputs.no_metadata,
                    "CSV without the # comment lines: the header line, then the rows");
  measure->add_option("--svg", outputs.svg_path, "draw the record as SVG (- for stdout)")
      ->check(output)
      ->type_name("FILE.svg");
  measure->add_flag("--raw", outputs.raw,
                    "raw sample codes instead of volts (on stdout when there is no -o)");

  CLI::App* watch = app.add_subcommand("watch", "take record after record and refresh the plot");
  AcquisitionText watch_text;
  WatchOptions watch_options;
  std::string interval = "200";
  std::string frames;
  AddAcquisitionOptions(watch, watch_text, false);
  watch->add_option("--interval", interval, "refresh interval (200 for ms, 0.5s; 10 ms .. 60 s)")
      ->check(Checked(
          [](std::string_view text, std::string* error) -> std::optional<double> {
            const std::optional<double> seconds = ParseDuration(text, 1e-3);
            if (seconds && *seconds >= kMinWatchIntervalMs / 1e3 &&
                *seconds <= kMaxWatchIntervalMs / 1e3) {
              return seconds;
            }
            if (error != nullptr) {
              *error = "the interval is a time from 10 ms to 60 s (200, 0.5s), not \"" +
                       std::string(text) + "\"";
            }
            return std::nullopt;
          },
          "TIME"))
      ->type_name("TIME")
      ->capture_default_str();
  watch->add_option("--frames", frames, "stop after this many refreshes (at least 1)")
      ->check(Bounded(1, UINT32_MAX, "the number of frames"))
      ->type_name("N");
  ViewText watch_view;
  AddViewOptions(watch, watch_view, "");

  app.add_subcommand("calibrate",
                     "calibrate the front end now; the current files stay until it succeeds");

  CLI::App* generator = app.add_subcommand("generator", "set the square-wave output");
  std::string frequency;
  generator->add_option("--freq", frequency, "frequency (100 .. 100k Hz, 2.5k), or off")
      ->check(Checked(ParseGeneratorFrequency, "HZ"))
      ->type_name("HZ|off")
      ->required();

#ifdef VM316_WITH_SERVE
  CLI::App* serve = app.add_subcommand("serve", "a live front panel in the browser");
  vm316::serve::ServeOptions serve_options;
  serve
      ->add_option("--listen", serve_options.listen,
                   "address and port (0: any free port); beyond the loopback a token is required")
      ->check(Checked(vm316::serve::ParseListenAddress, "ADDR:PORT"))
      ->type_name("ADDR:PORT")
      ->capture_default_str();
  CLI::Option* token_option =
      serve
          ->add_option("--token", serve_options.token,
                       "required on every request (generated when --listen is not loopback; "
                       "also --token-file or $VM316_TOKEN, which the process list does not show)")
          ->type_name("TOKEN");
  serve->add_option("--token-file", serve_options.token_file, "the token is this file's first line")
      ->type_name("FILE")
      ->excludes(token_option);
  serve->add_flag("--open", serve_options.open_browser, "open the panel in the desktop's browser");
#endif

  // The examples belong to the top-level help only.
  for (CLI::App* command : app.get_subcommands({})) command->footer("");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return Usage(app, error);
  }
  // The simulated board reads plain numbers: its signals go on without prefixes or units.
  for (std::string* wiring : {&backend.sim_ch1, &backend.sim_ch2, &backend.sim_ext}) {
    *wiring = *ParseSignalWiring(*wiring, nullptr);
  }
  if (watch->parsed()) {
    watch_options.view = ToView(watch_view);
    if (const char* problem = ViewConflict(watch_options.view, watch_text.channels)) {
      return UsageError(watch, problem);
    }
  }
  if (measure->parsed()) {
    outputs.count = Count(count);
    const int on_stdout = (outputs.csv_path == "-" ? 1 : 0) + (outputs.svg_path == "-" ? 1 : 0) +
                          (outputs.raw && outputs.csv_path.empty() ? 1 : 0);
    if (on_stdout > 1) {
      return UsageError(measure, "only one of -o -, --svg - and --raw may write to stdout");
    }
    outputs.view = ToView(measure_view);
    if (WritesSigrok(outputs) && (outputs.csv_path == "-" || outputs.raw)) {
      return UsageError(measure, outputs.csv_path == "-"
                                     ? "a sigrok session file is a zip archive: give -o a file name"
                                     : "a sigrok session file holds volts, not --raw codes");
    }
    if (const char* problem = ViewConflict(outputs.view, measure_text.channels)) {
      return UsageError(measure, problem);
    }
    if (const char* problem = SpectrumFileConflict(outputs)) return UsageError(measure, problem);
    if (const std::optional<std::string> refused = RefusedRunFile(outputs)) {
      return UsageError(measure, *refused);
    }
    if (outputs.svg_path == "-" && outputs.count > 1) {
      return UsageError(measure, "--svg - writes one picture; with --count give a file name");
    }
  }
  for (const auto& [command, text] : {std::pair{measure, &measure_text}, {watch, &watch_text}}) {
    if (command->parsed() && !text->time.empty() && command->count("--rate") > 0 &&
        command->count("--length") > 0) {
      return UsageError(command,
                        "--time with both --rate and --length: leave out the one that follows");
    }
  }

  InstallInterruptHandler();
  try {
    if (!port.empty()) backend.port = ParsePortAddress(port, nullptr);
    if (info->parsed()) return RunInfo(backend, full_tables);
    if (measure->parsed()) {
      outputs.csv_path = Absolute(outputs.csv_path);
      outputs.svg_path = Absolute(outputs.svg_path);
      outputs.plot.width = Count(measure_text.width);
      outputs.plot.height = Count(measure_text.height);
      AcquisitionOptions acquisition = ToAcquisition(measure_text);
      acquisition.rate_given = measure->count("--rate") > 0;
      acquisition.length_given = measure->count("--length") > 0;
      acquisition.xy = outputs.view.xy;
      return RunMeasure(backend, acquisition, outputs);
    }
    if (watch->parsed()) {
      watch_options.plot.width = Count(watch_text.width);
      watch_options.plot.height = Count(watch_text.height);
      watch_options.width_given = watch->count("--width") > 0;
      watch_options.height_given = watch->count("--height") > 0;
      watch_options.interval_ms = *ParseDuration(interval, 1e-3) * 1e3;
      if (!frames.empty()) watch_options.frames = Count(frames);
      AcquisitionOptions acquisition = ToAcquisition(watch_text);
      acquisition.rate_given = watch->count("--rate") > 0;
      acquisition.length_given = watch->count("--length") > 0;
      acquisition.xy = watch_options.view.xy;
      return RunWatch(backend, acquisition, watch_options);
    }
    if (generator->parsed()) {
      return RunGenerator(backend, *ParseGeneratorFrequency(frequency, nullptr));
    }
#ifdef VM316_WITH_SERVE
    if (serve->parsed()) return vm316::serve::RunServe(backend, serve_options);
#endif
    return RunCalibrate(backend);
  } catch (const CliError& error) {
    std::fprintf(stderr, "vm316: %s\n", error.what());
    return static_cast<int>(error.code());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "vm316: %s\n", error.what());
    return static_cast<int>(ExitCode::kFailure);
  }
}
