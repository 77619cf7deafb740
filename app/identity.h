/* Name, version and resource numbers of Quenvar, shared by the code and the resource script,
   so no number exists twice. Only preprocessor definitions: windres reads this file too. */
#ifndef QUENVAR_IDENTITY_H
#define QUENVAR_IDENTITY_H

#define QUENVAR_NAME "Quenvar"
#define QUENVAR_EXE_NAME "Quenvar.exe"
#define QUENVAR_VERSION_NUMBERS 1, 0, 0, 0
#define QUENVAR_VERSION_STRING "1.00"
#define QUENVAR_LANGUAGE_BLOCK "080404b0" /* Chinese (PRC), Unicode */
#define QUENVAR_LANGUAGE_ID 0x0804
#define QUENVAR_CODE_PAGE 1200

#define QUENVAR_ICON_ID 1

#endif
