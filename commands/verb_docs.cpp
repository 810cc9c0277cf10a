#include "commands/verb_docs.h"

namespace lumo::commands {

const std::vector<VerbDoc>& verbDocs() {
  static const std::vector<VerbDoc> docs = {
      // files
      {"Delete", "PATH", "Deletes a file or a symbolic link (the link, never its target).",
       "removes the file; folders and read-only files stay", "none: a missing file is no error"},
      {"RMDir", "FOLDER",
       "Removes a folder with everything below it; links met on the way are deleted, never followed, and other file "
       "systems are not entered. The empty text and relative paths are passed over.",
       "removes the folder",
       "\"[RMDir] Protected folder not removed: FOLDER\" (the home, desktops, menus, $APPDATA, the programs folder, "
       "the temporary and system folders); \"[RMDir] System folder not removed: FOLDER\"; \"[RMDir] Install folder not "
       "removed: REASON\" for an install folder that is no product folder"},
      {"MakeSurePath", "FOLDER", "Creates the folder and its parents.", "the folders", "none"},
      {"Move", "SOURCE|TARGET",
       "Renames a file (also over a running program's file); across file systems copies it whole, then deletes the "
       "source.",
       "the target; the source goes",
       "\"[Move] Source file or path not found: SOURCE\"; \"[Move] Can not move SOURCE to TARGET: REASON\" (nothing "
       "changed)"},
      {"Copy", "SOURCE|TARGET", "Copies a file whole: the target holds the old file or the whole new one.",
       "the target",
       "\"[Copy] Source file or path not found: SOURCE\"; \"[Copy] Can not copy SOURCE to TARGET: REASON\""},
      {"Exists", "PATH->VAR", "Whether a file or folder exists.", "VAR: \"1\" or \"0\"", "none"},
      {"ClearTmp", "FOLDER", "Kept for scripts written for the original installer; does nothing.", "", "none"},
      // shell
      {"CreateShortCut", "LINK|TARGET|ICON|DESCRIPTION",
       "Writes a desktop entry at LINK (\".lnk\" becomes \".desktop\"): a program with its arguments (the text after "
       "\"-\"), a web address or a document. ICON is an image path or an icon name of the theme.",
       "the .desktop file (mode 0755)", "none: a missing folder makes it fail silently"},
      {"PinTaskBar", "LINK", "Adds the entry to the desktop's favourites where the desktop has them.",
       "the desktop's favourites list", "none"},
      {"InstallIcon", "NAME", "Puts the installer's own icon into the icon theme under NAME, every size it holds.",
       "icons/hicolor/<N>x<N>/apps/NAME.png below the desktop's data folder",
       "\"[InstallIcon] Invalid icon name: NAME\" (letters, digits, \".\", \"_\" and \"-\" only)"},
      {"RemoveIcon", "NAME", "Removes what InstallIcon NAME put into the icon theme.", "removes those files", "none"},
      {"RegDLL", "MODULE", "Loads the module and calls its DllRegisterServer.", "what the module registers", "none"},
      {"UnRegDLL", "MODULE", "Loads the module and calls its DllUnregisterServer.", "what the module removes", "none"},
      {"GetMaxDisk", "->VAR", "The local disk with the most free space.",
       "VAR: its mount point without the trailing \"/\" (the root file system gives the empty text)", "none"},
      // progress
      {"Notify", "TEXT|PERCENT",
       "Shows the text and moves the progress bar. The texts @msg_complete, @msg_close, @msg_cancel_complete and "
       "@msg_removed move the run on (they end the wizard or the dialog).",
       "", "none"},
      {"NotifyOK", "", "Says that [install] succeeded: [installok] starts (once per run).", "", "none"},
      {"SleepMiliSeconds", "MILLISECONDS", "Waits; a negative count does not wait.", "", "none"},
      // registry
      {"ReadReg", "ROOT|KEY|VALUE->VAR",
       "Reads a registry value (at most 259 bytes). ROOT is HKEY_CURRENT_USER, HKEY_CLASSES_ROOT or anything else for "
       "HKEY_LOCAL_MACHINE.",
       "VAR; a missing key or value leaves it as it is", "none"},
      {"WriteReg", "ROOT|KEY|VALUE|DATA", "Writes a string value, creating the key and its parents.",
       "the value in the registry store",
       "\"[WriteReg] registry store PATH: ...\" when the store fails; \"[WriteReg] The uninstaller PATH is not whole "
       "(REASON); the uninstall entry is not written\" for an UninstallString whose program is missing or damaged"},
      {"DeleteReg", "ROOT|KEY", "Deletes a key with everything below it.", "removes the key",
       "none: a failing store is logged and the section goes on"},
      {"DeleteRegValue", "ROOT|KEY|VALUE", "Deletes one value.", "removes the value",
       "none: a failing store is logged and the section goes on"},
      // tuning
      {"MaxConnection", "COUNT", "Sets the connection limit where its registry key already exists.",
       "a HKEY_CURRENT_USER value", "none"},
      {"Compatibility", "PROGRAM", "Clears the compatibility record of the program where its key already exists.",
       "a HKEY_CURRENT_USER value", "none"},
      {"FireWallAllow", "PROGRAM|NAME",
       "Records the permission (Linux has no per-program firewall) under "
       "HKEY_LOCAL_MACHINE\\SOFTWARE\\Lumo\\Firewall\\AllowedPrograms.",
       "a registry value named by the program's path", "none: a failure never ends the section"},
      // statistics
      {"SendLog", "METHOD|RESULT|EXTEND|VALUE[+NAME=VALUE...]", "Sends one statistics report (a GET) aside.", "",
       "none"},
      {"OpenUrl", "ADDRESS|MODE", "Opens the address with the desktop's program (xdg-open), without waiting.", "",
       "none"},
      // INI and XML
      {"ReadIni", "FILE|SECTION|KEY->VAR", "Reads an INI value (GBK for the working script, else as the file is).",
       "VAR; a missing file or key leaves the empty text", "none"},
      {"WriteIni", "FILE|SECTION|KEY|VALUE", "Writes an INI value; the file is replaced whole.", "the file",
       "\"[WriteIni] Entry not written (REASON): FILE\" for an entry that would add lines of its own"},
      {"WriteXml", "FILE|ELEMENT|VALUE", "Sets the text of an element in an XML file when it differs.", "the file",
       "none"},
      // offers
      {"GetSoft", "ADDRESS", "Reads the list of recommended programs (an http(s) address, downloaded, or a local file) into places 1 to 3; the empty text does nothing.",
       "softnameN, softshortnameN, softcheckN, softurlN, softdigestN", "none"},
      {"DownloadAndInstall", "the seven fields of a softurlN record",
       "Downloads a recommended program, checks its SHA-256 when the offer names one, and runs it.",
       "the download in the temporary folder", "none: a failed download is reported"},
      // payload
      {"Out", "FOLDER",
       "Unpacks the payload (DATA 900) into the folder, block by block on several threads; a busy file is renamed to "
       "NAME.old and written again.",
       "the product's files",
       "\"[Out] Invalid target folder: \"; \"[Out] Can not create the temporary archive PATH\"; \"[Out] Can not write "
       "FOLDER/NAME: REASON\"; \"[Out] Entry outside the target folder: NAME\"; decoder errors (\"CRC error "
       "-Decode7z\", ...)"},
      // process
      {"Kill", "PROGRAM", "Ends every process whose program name (lower-cased, whole) is PROGRAM; under LUMO_SYSROOT only those that run from inside it.", "", "none"},
      {"Run", "PROGRAM|PARAMETERS|WAIT|SHOW->VAR",
       "Starts a program (never through a shell; a document opens with xdg-open), waiting WAIT milliseconds when "
       "above 0. A silent installation never starts main_program.",
       "VAR: a number that stands for the started process (0 when it could not start)",
       "\"[Run] Source executable not found: PROGRAM\""},
      {"WaitProcess", "NUMBER|INTERVAL|COUNT",
       "Waits up to COUNT periods of INTERVAL milliseconds for the process that Run numbered, moving the bar one step "
       "each period.",
       "", "none"},
      {"CheckUse", "MODULE", "Asks the user to close the programs that hold $INSTALL/MODULE open (checkuse.in-use).",
       "", "none"},
      // engine
      {"IfThen", "(@VAR==TEXT)->#COMMAND",
       "Runs the command when the condition holds (\"==\" or \"!=\"); conditions do not nest.", "what COMMAND writes",
       "\"[IfThen] Invalid arguments (Missing operator '==' ): ...\"; \"[IfThen] Arguments must be command: ...\""},
  };
  return docs;
}

const VerbDoc* findVerbDoc(std::string_view verb) {
  for (const VerbDoc& doc : verbDocs())
    if (doc.verb == verb) return &doc;
  return nullptr;
}

}  // namespace lumo::commands
