#pragma once
// One parameter being edited: which one, the text typed for it, its check, the
// refusal and the commit. A refused text is told once per user action (one
// action may check the same text twice: the focus leaving the edit box, then
// the tree asking), and stays refused until the user changes it.
// Texts are Windows-1251.
#include "ParameterList.h"

#include <string>

class EditSession {
public:
    struct Verdict {
        bool ok = true;
        bool changed = false;  // the model took a new value
        bool tell = false;     // a refusal the user has not been told of in this action
        std::string message;   // UTF-8
    };

    // The parameter now edited (nullptr: none); the typed text starts as its value.
    void begin(Parameter* parameter);
    Parameter* current() const { return current_; }
    void type(std::string text) { typed_ = std::move(text); }
    const std::string& typed() const { return typed_; }

    // Checks the typed text and, when it passes and differs, puts it into the model.
    Verdict commit();
    // The user's action is over: a refusal of the same text is told again next time.
    void actionEnded();
    // The last commit was refused and the text has not changed since.
    bool refused() const { return refused_ && refusedText_ == typed_ && refusedParameter_ == current_; }

private:
    Parameter* current_ = nullptr;
    std::string typed_;
    bool refused_ = false, told_ = false;
    const Parameter* refusedParameter_ = nullptr;
    std::string refusedText_;
};
