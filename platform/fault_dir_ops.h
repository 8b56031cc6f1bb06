// Between the fault injector's two halves: fault_inject.cpp counts points
// and undoes writes, fault_dir_ops.cpp keeps the directory operations a
// power cut can lose (see fault_inject.h).
#pragma once

// True while a power-cut mode is armed and the program has not stopped:
// directory operations are then recorded.
bool FaultPowerCutArmed();

// Undoes every directory operation not yet durable, newest first; with
// bLandLast the newest lands first, with its unit. Call after the writes
// were undone and the fault layer's handles closed.
void FaultDirOpsPowerCut(bool bLandLast);

// Forgets every record without undoing it, removing the files it kept.
void FaultDirOpsForget();
