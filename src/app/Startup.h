#pragma once
// Start-up and shutdown of frmmain and the port settings file com.txt: line 1
// the port list position + 1, line 2 the baud-rate text, 8-bit text with CR LF
// line ends. It lives beside the program when the program's folder is the
// user's own, else in the user's configuration folder.

#include <QString>
#include <functional>
#include <optional>

namespace eload {

struct Context;

// The two lines of com.txt as read, without their line ends.
struct SavedPorts {
    QString portLine;
    QString baudLine;
};

// com.txt of a program in `appFolder`: beside it when that folder may hold the
// user's files (see ProgramFolder.h), else `configFolder`/eload-panel/com.txt.
QString settingsFilePath(const QString& appFolder, const QString& configFolder);

// The file's two lines; nullopt when it is missing, unreadable or shorter.
std::optional<SavedPorts> readSavedPorts(const QString& path);

// Replaces the whole file with the two lines, its folder made when missing;
// an error message on failure.
std::optional<QString> writeSavedPorts(const QString& path, const SavedPorts& lines);

// Combo1's list position for line 1: the number it begins with, minus 1,
// rounded to a 16-bit integer; -1 (no entry) when it begins with none.
// nullopt when the position lies outside the nine entries.
std::optional<int> portListPosition(const QString& portLine);

class Startup {
public:
    Startup(Context& ctx, std::function<void()> combo1Click, QString settingsPath,
            QString appFolder);

    void Form_Load();
    // The settings file only; saving an open recording is the form's next step.
    void Form_QueryUnload();

private:
    void showSavedPort(const SavedPorts& saved);
    void fixSerialLists();
    void presetModuleBaud();
    void selectSavedPort(int position);
    void fillAddressLists();
    void limitPresetFields();
    void resetFlags();

    Context& ctx_;
    std::function<void()> combo1Click_;
    QString settingsPath_;
    QString appFolder_;
};

} // namespace eload
