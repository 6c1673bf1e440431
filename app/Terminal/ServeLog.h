#pragma once
#include "app/Service/TrelkModel.h"
#include "app/Terminal/Journal.h"

#include <QObject>

#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <string>

// What `serve` tells the terminal, a line per change: the status once the listener has tried
// its ports, and each job as it is queued, every tenth of its making with the time left, and
// its end. It writes on the main thread, which a terminal question holds: no line breaks in.
class ServeLog : public QObject {
public:
    ServeLog(const TrelkModel& model, std::FILE* output);

private:
    struct Seen {
        int tenths = -1; // of the making last told
        std::optional<std::chrono::steady_clock::time_point> started;
        bool ended = false;
        bool assumedTold = false;
    };
    void ready();
    void update();
    void tell(const Job& job, Seen& seen);
    void tellLinkedFolders();
    void tellLeftOut();
    void line(const std::string& text, Journal::Priority priority = Journal::Priority::info);

    const TrelkModel& model;
    std::FILE* output;
    bool listenerTried = false;
    std::string lastStatus;
    std::map<std::string, Seen> seen;
    std::set<std::string> linkedTold; // the library's folders found to be links, said once
    std::set<std::string> leftOutTold; // files the listing leaves out, said once
};
