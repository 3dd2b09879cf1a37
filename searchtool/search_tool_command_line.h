#pragma once
// The search tool's command line: the options it takes, and what they set of the window's
// options. main() only creates the application and calls runSearchTool; the tests read command
// lines through SearchToolCommandLine without starting a window.

#include "searchtool/search_tool_dlg.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

class QApplication;

namespace orv::search {

class SearchToolCommandLine
{
public:
    SearchToolCommandLine(); // the options and their help, as --help lists them

    // What the arguments (the program's name first) set, once `parser()` has read them.
    struct Result
    {
        SearchToolOptions options;
        bool ledgerGiven = false;    // --ledger: otherwise the location remembered by the window
        bool inventoryGiven = false; // --inventory: otherwise orv_inventory.csv in the documents
        QString error;               // a usage error (exit status 2); empty when the line is good
    };
    // `addressesFromEnvironment` (ORV_CAMERA_ADDRESSES) stands in when no --address is given.
    Result read(const QString& addressesFromEnvironment) const;

    QCommandLineParser& parser() { return parser_; }

private:
    QCommandLineParser parser_;
    QCommandLineOption address_;
    QCommandLineOption interfaceName_;
    QCommandLineOption cameraAddress_;
    QCommandLineOption port_;
    QCommandLineOption setup_;
    QCommandLineOption roster_;
    QCommandLineOption inventory_;
    QCommandLineOption ledgerLocation_;
    QCommandLineOption trustedKeys_;
    QCommandLineOption applyAllWhen_;
    QCommandLineOption closeWhenDone_;
    QCommandLineOption keepApplying_;
};

// The search tool as a program: reads the command line (--help and --version print and end it),
// the console's settings, opens the window and returns the exit status once it is closed.
int runSearchTool(QApplication& application);

} // namespace orv::search
