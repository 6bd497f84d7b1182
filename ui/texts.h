// Every fixed string of the front end: the caption, the message texts, the
// mutex names and the registry names. The Japanese texts are code page 932
// bytes, handed unchanged to the ANSI functions; most are padded with U+3000
// ideographic spaces (0x81 0x40) to 26 double-byte characters.
#pragma once

extern const char kWindowCaption[];          // title of the dialog and of every message box

extern const char kUpdaterMutexName[];       // held by this updater for its whole life
extern const char kEngineMutexName[];        // held by the game, its launcher and its uninstaller

extern const char kRegistryKeyFormat[];      // "%s\%s\%s": "Software", maker key, title key
extern const char kRegistrySoftwareKey[];    // "Software"
extern const char kRegistryMakerKey[];       // "Pellacorn"
extern const char kRegistryTitleKey[];       // the game's title, code page 932
extern const char kInstalledFolderValue[];   // "InstalledFolder"

extern const char kConfirmText[];            // question before anything is changed
extern const char kEngineRunningText[];      // the game, launcher or uninstaller is running
extern const char kNotInstalledText[];       // no install folder in the registry
extern const char kNoDialogText[];           // the progress dialog could not be created
extern const char kUpdateCompleteText[];     // UPDATE_OK
extern const char kDamagedText[];            // UPDATE_E_PAYLOAD, UPDATE_E_TOO_MANY_ENTRIES
extern const char kCannotUpdateText[];       // UPDATE_E_FILE_IO
extern const char kUninstallListText[];      // UPDATE_E_UNINSTALL_LIST
extern const char kCancelQuestionText[];     // asked when the cancel button is clicked
