#pragma once
// A jobs host that answers from a queue (empty: yes) and records everything it
// was handed, in order, as one line each: "ask <caption>|<text>", "tell ...",
// "log ...", "detail ...", "failed <text>|<what> <code>", so a test compares the
// whole sequence a user would have seen.
#include "JobHost.h"

#include <algorithm>

#include <deque>
#include <string>
#include <vector>

struct RecordingHost : jobs::JobHost {
    std::vector<std::string> events;
    std::deque<bool> answers;
    std::vector<jobs::Topic> topics;
    std::vector<jobs::Progress> progress_;
    int changes = 0;

    bool ask(const jobs::Question& q) override {
        events.push_back("ask " + q.caption + "|" + q.text);
        topics.push_back(q.topic);
        if (answers.empty())
            return true;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    void tell(const jobs::Notice& n) override { events.push_back("tell " + n.caption + "|" + n.text); }
    void log(const std::string& line) override { events.push_back("log " + line); }
    void detail(const std::string& line) override { events.push_back("detail " + line); }
    void failed(const jobs::Failure& f) override {
        events.push_back("failed " + f.text + "|" + f.what + " " + std::to_string(f.code));
        whys.push_back(f.why);
    }
    std::vector<std::string> whys;  // of each failure, in order
    // The change lists shown; unchoose: keys the "user" unchecks; chooseAnswer: Записать / Отмена.
    std::vector<jobs::ChangeList> lists;
    std::vector<std::string> unchoose;
    bool chooseAnswer = true;
    bool choose(jobs::ChangeList& list) override {
        events.push_back("choose " + std::to_string(writtenCount(list.rows)) + "/" + std::to_string(list.rows.size()));
        lists.push_back(list);
        for (auto& row : list.rows)
            if (std::find(unchoose.begin(), unchoose.end(), row.change.key) != unchoose.end())
                row.write = false;
        return chooseAnswer;
    }
    void progress(const jobs::Progress& p) override { progress_.push_back(p); }
    void changed() override { ++changes; }

    // The events that start with prefix.
    std::vector<std::string> only(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& e : events)
            if (e.rfind(prefix, 0) == 0)
                out.push_back(e);
        return out;
    }
};
