// The console front end of the interactive flag: menus, pause, line and
// password input on the curses screen (plain standard I/O without a terminal),
// the restore timer, and the non-interactive answers of the menus.
#ifndef VRK_ENGINE_CONSOLE_H
#define VRK_ENGINE_CONSOLE_H

#include "sms/smstypes.h"

// Largest user name getun reads, and password keys getPW reads.
#define CONSOLE_USER_MAX 300
#define CONSOLE_PASSWORD_KEYS 79

void DEPause(void);
void GetCharacter(char *option);
void getun(char *user);
void getPW(char *password);
void StartTimer(void);
UINT32 ElapsedTime(void);
char GetBCommand(NWBOOLEAN backup, char *prompt, NWBOOLEAN *resource);
char GetRCommand(UINT8 overwriteParent, UINT8 overwriteChild);
char GetCommand(NWBOOLEAN toLog);
void get_rcsid(void);

// Clears the curses screen when it is set up.
void console_clear_screen(void);
// Writes text to the console (curses screen or standard output).
void console_write(const char *text);
// Rings the bell.
void console_bell(void);
// True once standard input ended during a prompt (a prompt then quits).
bool console_input_ended(void);
// Releases the curses screen when a prompt set it up; nothing otherwise.
void vrk_console_end(void);

#endif
