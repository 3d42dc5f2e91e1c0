#pragma once
// The few desktop operations the engine needs, behind plain C++: the freedesktop.org trash,
// the file manager, the default application and the process priority. Nothing here needs a
// QCoreApplication or prints anything; failures come back as a result and a short reason.

#include <string>

// Moves a file (or anything else that has a name) into the desktop's trash, restorable from
// there: the home trash ($XDG_DATA_HOME/Trash) for files on its filesystem, else the trash
// of the file's own filesystem ($topdir/.Trash/$uid or $topdir/.Trash-$uid). A file whose
// filesystem has no usable trash is refused, never deleted. On failure the file is where it
// was and `error` says why in a few words ("Read-only file system"); on success `trashedAs`,
// when given, receives the file's new path inside the trash.
bool MoveToTrash(const std::string& path, std::string& error, std::string* trashedAs = nullptr);
// The same for the entry `name` of the open folder `folder`, whose full path without links is
// `file` (it says where the file came from and which filesystem's trash takes it). The move
// itself goes through the folder, so a path that changed meanwhile is never followed.
bool MoveToTrashAt(int folder, const std::string& name, const std::string& file, std::string& error,
                   std::string* trashedAs = nullptr);

// Shows the file selected in the file manager (org.freedesktop.FileManager1 over the session
// bus), else opens its folder with the default application. False, with the reason, when
// nothing could be started.
bool ShowInFileManager(const std::string& path, std::string& error);

// Opens the file or folder with the desktop's default application (xdg-open), detached from
// this process. False, with the reason, when the opener could not be started; what the opener
// does afterwards is its business.
bool OpenWithDefaultApplication(const std::string& path, std::string& error);

// The process priority: 0 low (idle scheduling), 1 normal (the priority the process started
// with), 2 high (a negative nice value), 3 highest (real-time, round robin). Applied to every
// thread of the process. False when the system refused, with nothing changed; other levels
// are refused too.
bool SetProcessPriority(int level);

// The file:// URI of a local path, every byte outside the unreserved set percent-encoded (the
// form the trash's info files and the file manager's interface expect).
std::string FileUri(const std::string& path);
std::string PercentEncodePath(const std::string& path);
