#include "check.h"

#include <string.h>

#include "vm316_host.h"

int check_failures = 0;
struct notices received;

static char calibration_path[MAX_PATH];
static char case_directory[MAX_PATH];

static const char* const calibration_files[] = {"Vemora1.Cal", "Vemora2.Cal"};

const char* calibration_directory(void) {
  return calibration_path;
}

void seed_calibration(void) {
  for (int i = 0; i < 2; ++i) {
    char source[MAX_PATH];
    snprintf(source, sizeof source, "%s\\%s", calibration_path, calibration_files[i]);
    if (!CopyFileA(source, calibration_files[i], FALSE)) {
      fprintf(stderr, "cannot copy %s (error %lu)\n", source, GetLastError());
      ++check_failures;
    }
  }
}

struct window_search {
  const char* window_class;
  const char* title;
  HWND found;
};

static BOOL CALLBACK match_own_window(HWND window, LPARAM search_address) {
  struct window_search* search = (struct window_search*)search_address;
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char name[256];
  if (process != GetCurrentProcessId()) return TRUE;
  if (search->window_class != NULL &&
      (GetClassNameA(window, name, sizeof name) == 0 || strcmp(name, search->window_class) != 0)) {
    return TRUE;
  }
  if (search->title != NULL &&
      (GetWindowTextA(window, name, sizeof name) == 0 || strcmp(name, search->title) != 0)) {
    return TRUE;
  }
  search->found = window;
  return FALSE;
}

HWND own_window(const char* window_class, const char* title) {
  struct window_search search = {window_class, title, NULL};
  EnumWindows(match_own_window, (LPARAM)&search);
  return search.found;
}

void use_simulated_board(void) {
  SetEnvironmentVariableA("VM316_PORT", "sim");
  SetEnvironmentVariableA("VM316_CLOCK", "virtual");
  SetEnvironmentVariableA("VM316_MESSAGES", "quiet");
}

void record_notice(int kind, const char* caption, const char* text, void* context) {
  (void)context;
  switch (kind) {
    case VM316_NOTICE_MESSAGE_BOX:
      ++received.message_boxes;
      break;
    case VM316_NOTICE_BEEP:
      ++received.beeps;
      break;
    case VM316_NOTICE_PROGRESS_SHOW:
      ++received.progress_shown;
      break;
    case VM316_NOTICE_PROGRESS_HIDE:
      ++received.progress_hidden;
      break;
    default:
      break;
  }
  if (kind != VM316_NOTICE_BEEP) {
    snprintf(received.last_caption, sizeof received.last_caption, "%s", caption);
    snprintf(received.last_text, sizeof received.last_text, "%s", text);
  }
}

int run_message_loop_until(loop_condition done, DWORD timeout_ms) {
  /* A thread timer of the host's own, so that GetMessage wakes up to look at the clock. */
  const UINT_PTR wake = SetTimer(NULL, 0, 10, NULL);
  const DWORD start = GetTickCount();
  MSG message;
  while (!done() && GetTickCount() - start < timeout_ms && GetMessageA(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  KillTimer(NULL, wake);
  return done();
}

static void remove_case_directory(void) {
  char pattern[MAX_PATH];
  snprintf(pattern, sizeof pattern, "%s\\*", case_directory);
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA(pattern, &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        char file[MAX_PATH];
        snprintf(file, sizeof file, "%s\\%s", case_directory, found.cFileName);
        DeleteFileA(file);
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(case_directory);
}

int run_test_case(const struct test_case* cases, int count, int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s CASE [CALIBRATION-DIRECTORY]\n", argv[0]);
    return 2;
  }
  const struct test_case* chosen = NULL;
  for (int i = 0; i < count; ++i) {
    if (strcmp(cases[i].name, argv[1]) == 0) chosen = &cases[i];
  }
  if (chosen == NULL) {
    fprintf(stderr, "no case %s\n", argv[1]);
    return 2;
  }
  if (argc > 2 && GetFullPathNameA(argv[2], MAX_PATH, calibration_path, NULL) == 0) {
    fprintf(stderr, "no directory %s\n", argv[2]);
    return 2;
  }

  char temporary[MAX_PATH];
  GetTempPathA(MAX_PATH, temporary);
  snprintf(case_directory, sizeof case_directory, "%svm316-%s-%lu", temporary, chosen->name,
           GetCurrentProcessId());
  if (!CreateDirectoryA(case_directory, NULL) || !SetCurrentDirectoryA(case_directory)) {
    fprintf(stderr, "cannot work in %s\n", case_directory);
    return 2;
  }
  use_simulated_board();
  chosen->run();

  SetCurrentDirectoryA(temporary);
  remove_case_directory();
  if (check_failures > 0) fprintf(stderr, "%s: %d checks failed\n", chosen->name, check_failures);
  return check_failures == 0 ? 0 : 1;
}
