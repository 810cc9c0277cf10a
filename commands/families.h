// The registration of every script verb. Registration is explicit: a
// program that runs scripts calls registerCommandFamilies() once, before its
// first line runs, and then knows every verb whatever the linker kept.
#pragma once

namespace lumo::commands {

// Registers the engine's own verbs and those of every family below.
void registerCommandFamilies();

// One family each, in the order registerCommandFamilies() calls them.
void registerFileCommands();        // Delete, RMDir, MakeSurePath, Move, Copy, Exists, ClearTmp
void registerIniXmlCommands();      // ReadIni, WriteIni, WriteXml
void registerOfferCommands();       // GetSoft, DownloadAndInstall
void registerPayloadCommands();     // Out
void registerProcessCommands();     // Kill, Run, WaitProcess, CheckUse
void registerProgressCommands();    // Notify, NotifyOK, SleepMiliSeconds
void registerRegistryCommands();    // ReadReg, WriteReg, DeleteReg, DeleteRegValue
void registerShellCommands();       // CreateShortCut, PinTaskBar, RegDLL, UnRegDLL, GetMaxDisk
void registerStatisticsCommands();  // SendLog, OpenUrl
void registerTuningCommands();      // MaxConnection, Compatibility, FireWallAllow

}  // namespace lumo::commands
