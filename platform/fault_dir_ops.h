// Between the fault injector's two halves: fault_inject.cpp counts points
// and undoes writes, fault_dir_ops.cpp keeps the directory operations a
// power cut can lose (see fault_inject.h).
#pragma once

// Whether directory operations are recorded: while a power-cut mode is
// armed and the program has not stopped. The injector tells every change.
void FaultDirOpsRecord(bool bRecord);

// Undoes every directory operation not yet durable, newest first; with
// bLandLast the newest lands first, with its unit. Call after the writes
// were undone and the fault layer's handles closed.
void FaultDirOpsPowerCut(bool bLandLast);

// Forgets every record without undoing it, removing the files it kept.
void FaultDirOpsForget();
