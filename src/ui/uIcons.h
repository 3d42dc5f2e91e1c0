#pragma once
// The program's icons, drawn for it and built into it, so that every desktop (and the bare
// machines the tests run on) shows the same ones.

#include <QIcon>

enum class TIcon {
  // tool bar and menus
  AddFolder, RemoveFolder, ClearFolders, Start, Stop, Move, Delete, Settings, Help,
  LoadResults, SaveResults, Exit, ShowFile, OpenFile, About, Tips, HowTo, Console,
  // side-frame headers and the results panel
  Folders, Sample, Options, Duplicates, Properties,
  // console: line levels and actions
  Info, Warning, Error, Copy, Clear, Mail, SaveFile,
  // the application
  Application,
};

QIcon Icon(TIcon id);
