/* A 32-bit Windows host built against vm316.h and the import library, as a C host of the
 * family is: the simulated board brought up through InitInstrument, the progress window of
 * the calibration, measurements in volts, continuous acquisition driven by the host's own
 * message loop, the hidden window, and the texts for the user. */
#include <io.h>
#include <string.h>

#include "check.h"
#include "vm316.h"
#include "vm316_host.h"

enum { kSimBase = 0x378, kWmDeviceArrived = WM_USER + 13 };

static const char kBusyCaption[] = "Information";
static const char kBusyText[] = "Busy Calibrating VM316";
static const char kHiddenWindowClass[] = "TDeviceMessageReceiver";

static int file_size(const char* name) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(name, GetFileExInfoStandard, &data)) return -1;
  return (int)data.nFileSizeLow;
}

static ULONGLONG file_age_seconds(const char* name) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(name, GetFileExInfoStandard, &data)) return ~0ull;
  FILETIME now_time;
  GetSystemTimeAsFileTime(&now_time);
  ULARGE_INTEGER now, written;
  now.LowPart = now_time.dwLowDateTime;
  now.HighPart = now_time.dwHighDateTime;
  written.LowPart = data.ftLastWriteTime.dwLowDateTime;
  written.HighPart = data.ftLastWriteTime.dwHighDateTime;
  return (now.QuadPart - written.QuadPart) / 10000000ull;
}

/* ---- The calibration and its progress window --------------------------------------------- */

/* What the progress window looked like while the calibration ran. */
static struct {
  int found;
  int visible;
  int painted;
  RECT frame;
  RECT label; /* in the window's client coordinates */
  int label_text_width;
  char label_text[64];
} busy;

static void inspect_progress_window(int kind, const char* caption, const char* text,
                                    void* context) {
  record_notice(kind, caption, text, context);
  if (kind != VM316_NOTICE_PROGRESS_SHOW) return;
  const HWND window = own_window(NULL, kBusyCaption);
  if (window == NULL) return;
  busy.found = 1;
  busy.visible = IsWindowVisible(window);
  GetWindowRect(window, &busy.frame);
  const HWND label = FindWindowExA(window, NULL, "STATIC", NULL);
  if (label == NULL) return;
  GetWindowTextA(label, busy.label_text, sizeof busy.label_text);
  GetWindowRect(label, &busy.label);
  MapWindowPoints(NULL, window, (POINT*)&busy.label, 2);
  /* Shown while nothing dispatches messages: it must have been painted already. */
  busy.painted = !GetUpdateRect(window, NULL, FALSE) && !GetUpdateRect(label, NULL, FALSE);

  const HDC dc = GetDC(label);
  const HGDIOBJ previous = SelectObject(dc, (HGDIOBJ)SendMessageA(label, WM_GETFONT, 0, 0));
  SIZE extent;
  GetTextExtentPoint32A(dc, busy.label_text, (int)strlen(busy.label_text), &extent);
  SelectObject(dc, previous);
  ReleaseDC(label, dc);
  busy.label_text_width = extent.cx;
}

static void check_progress_window(void) {
  REQUIRE(busy.found);
  CHECK(busy.visible);
  CHECK(busy.painted);
  CHECK(strcmp(busy.label_text, kBusyText) == 0);
  CHECK_EQ_INT(10, busy.label.left);
  CHECK_EQ_INT(30, busy.label.top);
  CHECK_EQ_INT(busy.label_text_width, busy.label.right - busy.label.left);

  const int width = busy.frame.right - busy.frame.left;
  const int height = busy.frame.bottom - busy.frame.top;
  CHECK_EQ_INT(100, height);
  CHECK_EQ_INT(busy.label_text_width + 30, width);
  RECT screen;
  GetClipCursor(&screen);
  CHECK_EQ_INT(screen.left + (screen.right - screen.left - width) / 2, busy.frame.left);
  CHECK_EQ_INT(screen.top + (screen.bottom - screen.top - height) / 2, busy.frame.top);
}

static void check_calibration_written(void) {
  CHECK_EQ_INT(144, file_size("Vemora1.Cal"));
  CHECK_EQ_INT(288, file_size("Vemora2.Cal"));
  CHECK(file_age_seconds("Vemora1.Cal") < 600);
  WIN32_FIND_DATAA found;
  const HANDLE leftovers = FindFirstFileA("*.tmp", &found);
  CHECK(leftovers == INVALID_HANDLE_VALUE);
  if (leftovers != INVALID_HANDLE_VALUE) FindClose(leftovers);
}

/* The fixture of the other cases: a first bring-up in an empty directory calibrates behind the
 * progress window and writes the day's files, which the other cases then load. */
static void calibrate(void) {
  vm316_set_message_handler(inspect_progress_window, NULL);
  REQUIRE(InitInstrument(kSimBase) == StatusOk);
  CHECK_EQ_INT(1, received.progress_shown);
  CHECK_EQ_INT(1, received.progress_hidden);
  CHECK_EQ_INT(0, received.message_boxes);
  CHECK(own_window(NULL, kBusyCaption) == NULL);
  check_progress_window();
  check_calibration_written();
  ExitInstrument();

  CreateDirectoryA(calibration_directory(), NULL);
  for (int i = 0; i < 2; ++i) {
    const char* name = i == 0 ? "Vemora1.Cal" : "Vemora2.Cal";
    char target[MAX_PATH];
    snprintf(target, sizeof target, "%s\\%s", calibration_directory(), name);
    CHECK(CopyFileA(name, target, FALSE));
  }
}

/* A date stamp from an earlier day calibrates again, and the new files replace the old. */
static void recalibrate_after_a_day(void) {
  seed_calibration();
  const HANDLE stamp = CreateFileA("Vemora1.Cal", FILE_WRITE_ATTRIBUTES, 0, NULL, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, NULL);
  REQUIRE(stamp != INVALID_HANDLE_VALUE);
  FILETIME now_time;
  GetSystemTimeAsFileTime(&now_time);
  ULARGE_INTEGER earlier;
  earlier.LowPart = now_time.dwLowDateTime;
  earlier.HighPart = now_time.dwHighDateTime;
  earlier.QuadPart -= 30ull * 3600 * 10000000; /* 30 hours: another day in any time zone */
  FILETIME written = {earlier.LowPart, earlier.HighPart};
  CHECK(SetFileTime(stamp, NULL, NULL, &written));
  CloseHandle(stamp);
  REQUIRE(file_age_seconds("Vemora1.Cal") > 24 * 3600);

  vm316_set_message_handler(record_notice, NULL);
  REQUIRE(InitInstrument(kSimBase) == StatusOk);
  CHECK_EQ_INT(1, received.progress_shown);
  CHECK_EQ_INT(0, received.message_boxes);
  check_calibration_written();
  ExitInstrument();
}

/* ---- Measurements ---------------------------------------------------------------------------- */

static double mean(const double* values, int count) {
  double sum = 0.0;
  for (int i = 0; i < count; ++i) sum += values[i];
  return sum / count;
}

enum { kVoltRecordLength = 2000 };
static double ch1_volts[kVoltRecordLength];
static double ch2_volts[kVoltRecordLength];

/* One blocking measurement of two DC inputs, read back in volts. */
static void blocking_measurement_in_volts(void) {
  SetEnvironmentVariableA("VM316_SIM_CH1", "dc:offset=0.5");
  SetEnvironmentVariableA("VM316_SIM_CH2", "dc:offset=-0.3");
  seed_calibration();
  vm316_set_message_handler(record_notice, NULL);
  REQUIRE(InitInstrument(kSimBase) == StatusOk);
  CHECK_EQ_INT(0, received.progress_shown); /* the day's files were loaded */
  uint16_t channels = 0;
  CHECK_EQ_INT(StatusOk, GetNrChannels(&channels));
  CHECK_EQ_INT(2, channels);
  double sensitivity = 0.0;
  CHECK_EQ_INT(StatusOk, GetSensitivity(1, &sensitivity));
  CHECK_NEAR(0.8, sensitivity, 1e-12);

  REQUIRE(SetRecordLength(kVoltRecordLength) == StatusOk);
  REQUIRE(SetPostSamples(kVoltRecordLength) == StatusOk); /* nothing from before the arm */
  /* A DC input never crosses the trigger level: record at once instead of waiting a second
   * (of the virtual clock, which each port access advances by a microsecond) for the force. */
  REQUIRE(SetTriggerTimeOut(0) == StatusOk);
  REQUIRE(StartMeasurement() == StatusOk);
  REQUIRE(GetMeasurement(ch1_volts, ch2_volts) == StatusOk);
  /* One converter step on the 0.8 V range, and 3 % of the reading: the 0.8 V range has its gain
   * calibrated at a quarter of full scale (the calibration's statistics are in docs/). */
  const double step = 0.8 / 128;
  CHECK_NEAR(0.5, mean(ch1_volts, kVoltRecordLength), step + 0.5 * 0.03);
  CHECK_NEAR(-0.3, mean(ch2_volts, kVoltRecordLength), step + 0.3 * 0.03);
  double one_ch1 = 0.0, one_ch2 = 0.0;
  CHECK_EQ_INT(StatusOk, GetOneMeasurement(100, &one_ch1, &one_ch2));
  CHECK(one_ch1 == ch1_volts[100] && one_ch2 == ch2_volts[100]);
  ExitInstrument();
}

/* Continuous acquisition: each record of a new length fills the buffers up to its end. */
static int32_t watched_length;

static int record_of_watched_length(void) {
  uint16_t ch1 = 0, ch2 = 0;
  return GetOneMeasurementRaw(watched_length - 1, &ch1, &ch2) == StatusOk && ch1 != 0;
}

static void start_continuous_sine(void) {
  SetEnvironmentVariableA("VM316_SIM_CH1", "sine:freq=1000,amp=0.5");
  seed_calibration();
  vm316_set_message_handler(record_notice, NULL);
}

static void continuous_acquisition_in_the_host_message_loop(void) {
  start_continuous_sine();
  REQUIRE(InitInstrument(kSimBase) == StatusOk);
  watched_length = 8000;
  REQUIRE(SetRecordLength(watched_length) == StatusOk);
  REQUIRE(DoMeasure(-1) == StatusOk);
  CHECK(run_message_loop_until(record_of_watched_length, 20000));

  watched_length = 12000; /* a settings change reaches the next record */
  REQUIRE(SetRecordLength(watched_length) == StatusOk);
  CHECK(run_message_loop_until(record_of_watched_length, 20000));

  REQUIRE(DoMeasure(0) == StatusOk);
  watched_length = 16000;
  REQUIRE(SetRecordLength(watched_length) == StatusOk);
  run_message_loop_until(record_of_watched_length, 300);
  CHECK(!record_of_watched_length()); /* the timer is off */
  ExitInstrument();
}

/* A host without a message loop of its own pumps with vm316_pump_messages. */
static void continuous_acquisition_with_the_library_pump(void) {
  start_continuous_sine();
  REQUIRE(InitInstrument(kSimBase) == StatusOk);
  const DWORD idle_start = GetTickCount();
  CHECK_EQ_INT(0, vm316_pump_messages(50)); /* nothing to do: waits for the bound */
  const DWORD idle = GetTickCount() - idle_start;
  CHECK(idle >= 40 && idle < 2000);

  watched_length = 8000;
  REQUIRE(SetRecordLength(watched_length) == StatusOk);
  REQUIRE(DoMeasure(-1) == StatusOk);
  const DWORD start = GetTickCount();
  uint32_t dispatched = 0;
  while (!record_of_watched_length() && GetTickCount() - start < 20000) {
    dispatched += vm316_pump_messages(100);
  }
  CHECK(record_of_watched_length());
  CHECK(dispatched > 0);
  DoMeasure(0);
  ExitInstrument();
}

/* ---- The hidden window ----------------------------------------------------------------------- */

static int one_message_box(void) {
  return received.message_boxes >= 1;
}
static int two_message_boxes(void) {
  return received.message_boxes >= 2;
}

static void hidden_window_handles_device_arrival(void) {
  seed_calibration();
  vm316_set_message_handler(record_notice, NULL);
  REQUIRE(InitInstrument(kSimBase) == StatusOk);
  const HWND hidden = own_window(kHiddenWindowClass, NULL);
  REQUIRE(hidden != NULL);
  CHECK(!IsWindowVisible(hidden));
  /* A top-level window, so that the system's broadcasts reach it. */
  CHECK(GetAncestor(hidden, GA_PARENT) == GetDesktopWindow());

  /* The system sends it (it cannot be posted); the receiver does nothing with it. */
  SendMessageA(hidden, WM_DEVICECHANGE, 0x0007 /* devices changed */, 0);
  CHECK_EQ_INT(0, received.message_boxes);

  /* As another program posts it. */
  CHECK(PostMessageA(hidden, kWmDeviceArrived, 0, 0));
  CHECK(run_message_loop_until(one_message_box, 5000));
  CHECK(strcmp(received.last_text, "WMDeviceArrived ") == 0);

  CHECK_EQ_INT(1, vm316_post_message(kWmDeviceArrived, 0, 0));
  CHECK(run_message_loop_until(two_message_boxes, 5000));

  ExitInstrument();
  CHECK(own_window(kHiddenWindowClass, NULL) == NULL);
  CHECK_EQ_INT(0, vm316_post_message(kWmDeviceArrived, 0, 0));
}

/* ---- The port-access driver and the texts for the user --------------------------------------- */

static const char kDriverMissing[] =
    "Windows NT / 2000 / XP requires an extra NT-driver for the parallel port and ISA bus.\n"
    "It was not detected on this computer.\n"
    "Hardware will not be available";

/* An NT-family system without the port-access driver: real port I/O is refused. */
static void real_ports_need_the_driver(void) {
  SetEnvironmentVariableA("VM316_PORT", "hw");
  vm316_set_message_handler(record_notice, NULL);
  CHECK_EQ_INT(StatusNoHardware, InitInstrument(kSimBase));
  CHECK_EQ_INT(1, received.message_boxes);
  CHECK(strcmp(received.last_text, kDriverMissing) == 0);
  uint16_t channels = 0;
  CHECK_EQ_INT(StatusNoHardware, GetNrChannels(&channels));
  ExitInstrument();
}

/* Without a handler, VM316_MESSAGES=stderr prints the text instead of showing a modal box
 * (which would wait for a click). */
static void texts_go_to_stderr_when_asked(void) {
  SetEnvironmentVariableA("VM316_PORT", "hw");
  SetEnvironmentVariableA("VM316_MESSAGES", "stderr");
  /* The library shares the C runtime, and so stderr, with this program. */
  fflush(stderr);
  const int saved_stderr = _dup(_fileno(stderr));
  REQUIRE(freopen("notices.txt", "w", stderr) != NULL);
  const uint16_t status = InitInstrument(kSimBase);
  ExitInstrument();
  fflush(stderr);
  _dup2(saved_stderr, _fileno(stderr));
  _close(saved_stderr);
  CHECK_EQ_INT(StatusNoHardware, status);

  char printed[1024] = {0};
  FILE* notices = fopen("notices.txt", "r");
  REQUIRE(notices != NULL);
  const size_t length = fread(printed, 1, sizeof printed - 1, notices);
  fclose(notices);
  printed[length] = '\0';
  CHECK(strstr(printed, kDriverMissing) != NULL);
}

static const struct test_case cases[] = {
    {"calibrate", calibrate},
    {"recalibrate_after_a_day", recalibrate_after_a_day},
    {"blocking_measurement_in_volts", blocking_measurement_in_volts},
    {"continuous_acquisition_in_the_host_message_loop",
     continuous_acquisition_in_the_host_message_loop},
    {"continuous_acquisition_with_the_library_pump", continuous_acquisition_with_the_library_pump},
    {"hidden_window_handles_device_arrival", hidden_window_handles_device_arrival},
    {"real_ports_need_the_driver", real_ports_need_the_driver},
    {"texts_go_to_stderr_when_asked", texts_go_to_stderr_when_asked},
};

int main(int argc, char** argv) {
  return run_test_case(cases, (int)(sizeof cases / sizeof cases[0]), argc, argv);
}
