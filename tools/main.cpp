// vm316: the oscilloscope board from a terminal. The command line is read here; the
// subcommands live in commands.cpp and capture_commands.cpp.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "commands.h"
#include "errors.h"
#include "interrupt.h"
#include "options.h"
#ifdef VM316_WITH_SERVE
#include "serve.h"
#include "serve_access.h"
#endif

namespace {

using namespace vm316::cli;

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

// A CLI11 check whose description stays out of the help, which says the limits in words.
CLI::Validator Quiet(CLI::Validator validator) {
  validator.description("");
  return validator;
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
  std::uint32_t length = 1000;
  std::optional<std::uint32_t> post;
  std::vector<std::string> ranges, couplings, dc_levels;
  std::string trigger;
  std::string hysteresis;
  std::string timeout = "1000";
  std::string style = "auto";
  std::string generator;
  int width = 72;
  int height = 16;
};

void AddAcquisitionOptions(CLI::App* command, AcquisitionText& text, bool with_style) {
  command->add_option("--channels", text.channels, "channels to record: 1, 2 or 12")
      ->check(Checked(ParseChannelMask, "CHANNELS"))
      ->type_name("1|2|12")
      ->capture_default_str();
  command->add_option("--rate", text.rate, "sample rate in Hz, with k or M (100k, 2.5M)")
      ->check(Checked(ParseRate, "RATE"))
      ->type_name("HZ")
      ->capture_default_str();
  command->add_option("--length", text.length, "record length in samples (2 .. 32760)")
      ->type_name("N")
      ->capture_default_str();
  command
      ->add_option("--post", text.post,
                   "samples after the trigger (default: all; the board records from the arm on, so "
                   "earlier samples are real only when the trigger comes late enough)")
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
  command->add_option("--hysteresis", text.hysteresis, "trigger hysteresis in volts")
      ->check(Checked(ParseVolts, "VOLTS"))
      ->type_name("VOLTS");
  command
      ->add_option("--timeout", text.timeout,
                   "force the trigger after this many milliseconds, or none")
      ->check(Checked(ParseTimeout, "TIMEOUT"))
      ->type_name("MS|none")
      ->capture_default_str();
  if (with_style) {
    command
        ->add_option("--style", text.style,
                     "blocking (StartMeasurement), block (ADC_Start, ADC_Ready, ADC_GetData) "
                     "or auto (block for long captures)")
        ->check(Checked(ParseStyle, "STYLE"))
        ->type_name("blocking|block|auto")
        ->capture_default_str();
  }
  command
      ->add_option("--generator", text.generator,
                   "square-wave output during the run (default on the simulated board: "
                   "1 kHz when an input is wired to it)")
      ->check(Checked(ParseGeneratorFrequency, "HZ"))
      ->type_name("HZ|off");
  command
      ->add_option("--width", text.width,
                   "plot width in characters (" + std::to_string(kMinPlotWidth) + " .. " +
                       std::to_string(kMaxPlotWidth) + ")")
      ->check(Quiet(CLI::Range(kMinPlotWidth, kMaxPlotWidth)))
      ->type_name("N")
      ->capture_default_str();
  command
      ->add_option("--height", text.height,
                   "plot height in lines (" + std::to_string(kMinPlotHeight) + " .. " +
                       std::to_string(kMaxPlotHeight) + ")")
      ->check(Quiet(CLI::Range(kMinPlotHeight, kMaxPlotHeight)))
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
  options.length = text.length;
  options.post = text.post;
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

// Output files are named from where the user stands, before the host enters its state
// directory.
std::string Absolute(const std::string& path) {
  if (path.empty() || path == "-") return path;
  return std::filesystem::absolute(path).string();
}

CLI::App* ParsedSubcommand(CLI::App& app) {
  for (CLI::App* command : app.get_subcommands()) {
    if (command->parsed()) return command;
  }
  return nullptr;
}

int Usage(CLI::App& app, const CLI::ParseError& error) {
  if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(error);
  CLI::App* command = ParsedSubcommand(app);
  const std::vector<std::string> unknown = app.remaining();
  if (command == nullptr && !unknown.empty()) {
    // CLI11 reports a missing subcommand before the word it did not know.
    std::fprintf(stderr, "vm316: unknown subcommand \"%s\"\n\n", unknown.front().c_str());
  } else {
    std::fprintf(stderr, "vm316: %s\n\n", error.what());
  }
  std::fprintf(stderr, "%s",
               command != nullptr ? command->help("vm316").c_str() : app.help().c_str());
  return static_cast<int>(ExitCode::kUsage);
}

}  // namespace

int main(int argc, char** argv) {
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
      "  vm316 measure --sim-ch1 sine:freq=1000,amp=0.5 --range 1=0.8 --rate 1M\n"
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
  app.add_option("--sim-ch1", backend.sim_ch1, "signal on channel 1 of the simulated board")
      ->type_name("SPEC")
      ->capture_default_str();
  app.add_option("--sim-ch2", backend.sim_ch2, "signal on channel 2 of the simulated board")
      ->type_name("SPEC")
      ->capture_default_str();
  app.add_option("--sim-ext", backend.sim_ext, "signal on the external trigger input")
      ->type_name("SPEC")
      ->capture_default_str();
  app.add_option("--cal-dir", backend.cal_dir,
                 "directory of the calibration files (default: $XDG_STATE_HOME/vm316 or "
                 "~/.local/state/vm316)")
      ->type_name("DIR");
  app.add_flag("-q,--quiet", backend.quiet, "no notes on stderr, only errors");

  CLI::App* info = app.add_subcommand("info", "the backend, the board, its calibration");
  bool full_tables = false;
  info->add_flag("--tables", full_tables, "print the calibration tables range by range");

  CLI::App* measure = app.add_subcommand("measure", "take a record and show or save it");
  AcquisitionText measure_text;
  MeasureOutputs outputs;
  AddAcquisitionOptions(measure, measure_text, true);
  measure->add_option("-n,--count", outputs.count, "number of records")
      ->check(Quiet(CLI::PositiveNumber))
      ->type_name("N")
      ->capture_default_str();
  measure
      ->add_option("-o,--output", outputs.csv_path,
                   "write the record as CSV (- for stdout); numbered with --count")
      ->type_name("FILE.csv");
  measure->add_option("--svg", outputs.svg_path, "draw the record as SVG")->type_name("FILE.svg");
  measure->add_flag("--raw", outputs.raw,
                    "raw sample codes instead of volts (on stdout when there is no -o)");

  CLI::App* watch = app.add_subcommand("watch", "acquire continuously and refresh the plot");
  AcquisitionText watch_text;
  WatchOptions watch_options;
  AddAcquisitionOptions(watch, watch_text, false);
  watch->add_option("--interval", watch_options.interval_ms, "refresh interval in milliseconds")
      ->check(Quiet(CLI::Range(10, 60000)))
      ->type_name("MS")
      ->capture_default_str();
  watch->add_option("--frames", watch_options.frames, "stop after this many refreshes")
      ->check(Quiet(CLI::NonNegativeNumber))
      ->type_name("N");

  app.add_subcommand("calibrate",
                     "calibrate the front end now; the current files stay until it succeeds");

  CLI::App* generator = app.add_subcommand("generator", "set the square-wave output");
  std::string frequency;
  generator->add_option("--freq", frequency, "frequency in Hz (100 .. 100k), or off")
      ->check(Checked(ParseGeneratorFrequency, "HZ"))
      ->type_name("HZ|off")
      ->required();

#ifdef VM316_WITH_SERVE
  CLI::App* serve = app.add_subcommand("serve", "a live front panel in the browser");
  ServeOptions serve_options;
  serve
      ->add_option("--listen", serve_options.listen,
                   "address and port (0: any free port); beyond the loopback a token is required")
      ->check(Checked(ParseListenAddress, "ADDR:PORT"))
      ->type_name("ADDR:PORT")
      ->capture_default_str();
  serve
      ->add_option("--token", serve_options.token,
                   "required on every request (generated when --listen is not loopback)")
      ->type_name("TOKEN");
  serve->add_flag("--open", serve_options.open_browser, "open the panel in the desktop's browser");
#endif

  // The examples belong to the top-level help only.
  for (CLI::App* command : app.get_subcommands({})) command->footer("");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return Usage(app, error);
  }

  InstallInterruptHandler();
  try {
    if (!port.empty()) backend.port = ParsePortAddress(port, nullptr);
    if (info->parsed()) return RunInfo(backend, full_tables);
    if (measure->parsed()) {
      outputs.csv_path = Absolute(outputs.csv_path);
      outputs.svg_path = Absolute(outputs.svg_path);
      outputs.plot.width = measure_text.width;
      outputs.plot.height = measure_text.height;
      return RunMeasure(backend, ToAcquisition(measure_text), outputs);
    }
    if (watch->parsed()) {
      watch_options.plot.width = watch_text.width;
      watch_options.plot.height = watch_text.height;
      return RunWatch(backend, ToAcquisition(watch_text), watch_options);
    }
    if (generator->parsed()) {
      return RunGenerator(backend, *ParseGeneratorFrequency(frequency, nullptr));
    }
#ifdef VM316_WITH_SERVE
    if (serve->parsed()) return RunServe(backend, serve_options);
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
