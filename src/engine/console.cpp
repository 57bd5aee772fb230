// Console prompts of the interactive flag: curses when both standard input
// and output are terminals, else plain standard input and output.
#include "engine/console.h"

#include <ctype.h>
#include <curses.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "engine/engine_globals.h"
#include "runtime/vrk_log.h"

namespace {

bool gbCursesTried = false;
bool gbCursesUp = false;
bool gbInputEnded = false;
// Wall-clock start of the timed phase; clock() would count CPU time only.
struct timespec begin_time = {0, 0};
const char *const kRcsId = "console.cpp,v 4.10 engine console";

// Sets up curses once, before its first use; stays off without a terminal.
bool curses_up() {
  if (!gbCursesTried) {
    gbCursesTried = true;
    if (isatty(STDIN_FILENO) && isatty(STDOUT_FILENO)) {
      SCREEN *screen = newterm(nullptr, stdout, stdin);
      if (screen != nullptr) {
        set_term(screen);
        cbreak();
        gbCursesUp = true;
      }
    }
  }
  return gbCursesUp;
}

void console_print(const char *text) {
  if (curses_up()) {
    printw("%s", text);
    refresh();
  } else {
    fputs(text, stdout);
    fflush(stdout);
  }
}

void console_clear() {
  if (curses_up()) {
    clear();
    refresh();
  }
}

void bell() {
  if (curses_up())
    beep();
  else {
    putchar(7);
    fflush(stdout);
  }
}

// One key, upper-cased; 'Q' once the input has ended.
char menu_key() {
  char c = 0;
  GetCharacter(&c);
  return (char)toupper((unsigned char)c);
}

}  // namespace

bool console_input_ended(void) { return gbInputEnded; }

void console_clear_screen(void) { console_clear(); }

void console_write(const char *text) { console_print(text); }

void console_bell(void) { bell(); }

void vrk_console_end(void) {
  if (gbCursesUp) {
    endwin();
    gbCursesUp = false;
  }
}

void GetCharacter(char *option) {
  if (curses_up()) {
    int c = wgetch(stdscr);
    if (c == ERR) {
      gbInputEnded = true;
      c = 'Q';
    }
    *option = (char)c;
    return;
  }
  int c;
  do {
    c = getchar();
  } while (c == '\n' || c == '\r');
  if (c == EOF) {
    gbInputEnded = true;
    c = 'Q';
  }
  *option = (char)c;
}

void DEPause(void) {
  console_print("\n");
  console_print("Strike any key to continue...");
  char c;
  GetCharacter(&c);
  console_clear();
}

void getun(char *user) {
  user[0] = '\0';
  if (curses_up()) {
    echo();
    if (wgetnstr(stdscr, user, CONSOLE_USER_MAX) == ERR) user[0] = '\0';
    return;
  }
  char line[CONSOLE_USER_MAX + 2];
  if (fgets(line, sizeof(line), stdin) == nullptr) {
    gbInputEnded = true;
    return;
  }
  size_t len = strcspn(line, "\n");
  if (line[len] != '\n' && !feof(stdin)) {
    // Longer than the field: refused, and the rest of the line dropped.
    int c;
    while ((c = getchar()) != '\n' && c != EOF) {
    }
    fputs("\nName too long\n", stdout);
    return;
  }
  line[len] = '\0';
  memcpy(user, line, len + 1);
}

void getPW(char *password) {
  char keys[CONSOLE_PASSWORD_KEYS + 1];
  size_t n = 0;
  if (curses_up()) {
    noecho();
    while (n < CONSOLE_PASSWORD_KEYS) {
      int c = wgetch(stdscr);
      if (c == ERR || c == '\n' || c == '\r') break;
      keys[n++] = (char)c;
    }
    echo();
  } else {
    struct termios saved;
    bool bTty = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (bTty) {
      struct termios quiet = saved;
      quiet.c_lflag &= ~(tcflag_t)ECHO;
      tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    while (n < CONSOLE_PASSWORD_KEYS) {
      int c = getchar();
      if (c == EOF || c == '\n' || c == '\r') break;
      keys[n++] = (char)c;
    }
    if (bTty) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  }
  password[0] = (char)(n & 0xFF);
  password[1] = (char)((n >> 8) & 0xFF);
  memcpy(password + 2, keys, n);
  password[2 + n] = '\0';
}

void StartTimer(void) { clock_gettime(CLOCK_MONOTONIC, &begin_time); }

UINT32 ElapsedTime(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (UINT32)(now.tv_sec - begin_time.tv_sec);
}

char GetBCommand(NWBOOLEAN backup, char *prompt, NWBOOLEAN *resource) {
  trace("%l4 GetBCommand: Start");
  char cResult = 'B';
  if (vrk_nlm_interactive) {
    strcpy(prompt, "resource");
    *resource = 1;
    for (;;) {
      console_clear();
      char menu[512];
      snprintf(menu, sizeof(menu),
               "T:  %save backup data\nBR: Backup Resource\nBS: Backup Subdirectories\n"
               "SR: Scan Resource\nSS: Scan Subdirectories\n\nQ:  Return to previous menu\n\n"
               "Select option:   ",
               backup ? "Do not s" : "S");
      console_print(menu);
      char c = menu_key();
      if (c == 'Q' || c == 'T') {
        cResult = c;
        break;
      }
      if (c == 'B' || c == 'S') {
        char c2 = menu_key();
        if (c2 == 'R') {
          cResult = c;
          break;
        }
        if (c2 == 'S') {
          strcpy(prompt, "subdirectory");
          *resource = 0;
          cResult = c;
          break;
        }
        if (gbInputEnded) {
          cResult = 'Q';
          break;
        }
      }
      bell();
    }
    console_clear();
  } else if (*resource) {
    strcpy(prompt, "resource");
    trace("GetBCommand: Command set to Resource");
  } else {
    strcpy(prompt, "subdirectory");
    trace("GetBCommand: Command set to Backup Subdirectory");
  }
  trace("%l4 GetBCommand: End");
  return cResult;
}

char GetRCommand(UINT8 overwriteParent, UINT8 overwriteChild) {
  if (!vrk_nlm_interactive) {
    trace("Restore Session");
    return 'R';
  }
  for (;;) {
    console_clear();
    char menu[512];
    snprintf(menu, sizeof(menu),
             "R: Restore Session\nN: Rename Restore\nD: Display Rename Restore Path\n"
             "F: Free Rename Restore Path\nP: %sverwrite Parent\nC: %sverwrite Child\n\n"
             "Q: Return to previous menu\n\nSelect option:   ",
             overwriteParent ? "O" : "Do not o", overwriteChild ? "O" : "Do not o");
    console_print(menu);
    char c = menu_key();
    if (c != 0 && strchr("RNDFPCQ", c) != nullptr) return c;
    bell();
  }
}

char GetCommand(NWBOOLEAN toLog) {
  for (;;) {
    console_clear();
    char menu[512];
    snprintf(menu, sizeof(menu),
             "\nL: %sog Session Output\nC: Create SelectionList\nD: Display SelectionList\n"
             "F: Free SelectionList\nE: Delete File\nN: Rename File\nB: Backup\nR: Restore\n\n"
             "Q: Quit\n\nSelect option:  ",
             toLog ? "L" : "Do not l");
    console_print(menu);
    char c = menu_key();
    if (c != 0 && strchr("CDFENLVBRQ", c) != nullptr) return c;
    bell();
  }
}

void get_rcsid(void) { vrk_log(4000, "%s\n", kRcsId); }
