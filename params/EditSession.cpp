#include "EditSession.h"

#include "ValueCheck.h"

void EditSession::begin(Parameter* parameter) {
    current_ = parameter;
    typed_ = parameter ? parameter->value : std::string();
    refused_ = told_ = false;
    refusedParameter_ = nullptr;
    refusedText_.clear();
}

EditSession::Verdict EditSession::commit() {
    Verdict v;
    if (!current_)
        return v;
    const CheckResult r = CheckValue(*current_, typed_);
    if (!r.ok) {
        const bool same = refused_ && refusedParameter_ == current_ && refusedText_ == typed_;
        v.ok = false;
        v.message = r.message;
        v.tell = !(same && told_);
        refused_ = told_ = true;
        refusedParameter_ = current_;
        refusedText_ = typed_;
        return v;
    }
    refused_ = false;
    if (typed_ != current_->value) {
        current_->value = typed_;
        v.changed = true;
    }
    return v;
}

void EditSession::actionEnded() { told_ = false; }
