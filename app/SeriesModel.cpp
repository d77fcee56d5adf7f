#include "SeriesModel.h"

#include "DeviceInfo.h"
#include "JournalTexts.h"

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionProgressBar>
#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

const QColor kFailedColour(160, 0, 0);
const QColor kDoneColour(0, 110, 0);
const QColor kStoppedColour(150, 90, 0);

QString text(const std::string& utf8) { return QString::fromUtf8(utf8.data(), static_cast<int>(utf8.size())); }

double secondsOf(const jobs::UnitRow& r) {
    if (r.outcome != jobs::UnitOutcome::Running)
        return r.seconds;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - r.started).count();
}

std::optional<jobs::UnitStep> runningStep(const jobs::UnitRow& r) {
    for (int i = 0; i < jobs::kUnitStepCount; ++i)
        if (r.marks[i] == jobs::StepMark::Running)
            return jobs::kUnitSteps[i];
    return std::nullopt;
}

QString firmwareText(const jobs::UnitRow& r) {
    if (r.firmwareAfter.empty() || r.firmwareAfter == r.firmwareBefore)
        return text(r.firmwareBefore);
    return text(r.firmwareBefore) + " → " + text(r.firmwareAfter);
}

} // namespace

QString SeriesModel::markText(jobs::StepMark mark) {
    switch (mark) {
    case jobs::StepMark::Running:
        return "…";
    case jobs::StepMark::Done:
        return "✓";
    case jobs::StepMark::Skipped:
        return "—";
    case jobs::StepMark::Failed:
        return "✗";
    case jobs::StepMark::Waiting:
        break;
    }
    return {};
}

QString SeriesModel::outcomeText(const jobs::UnitRow& r, bool interrupted) {
    switch (r.outcome) {
    case jobs::UnitOutcome::Done:
        return "выполнено";
    case jobs::UnitOutcome::Failed:
        return "ошибка: " + text(r.reason);
    case jobs::UnitOutcome::Stopped:
        return "остановлено";
    case jobs::UnitOutcome::Running:
        break;
    }
    if (interrupted)
        return "прервано: окно серии закрыто";
    const std::optional<jobs::UnitStep> step = runningStep(r);
    return step ? QString(jobs::unitStepTitle(*step)) + "…" : QString("…");
}

QString SeriesModel::durationText(double seconds) {
    const long total = std::lround(std::max(0.0, seconds));
    const long h = total / 3600, m = total / 60 % 60, s = total % 60;
    const QString ss = QString("%1").arg(s, 2, 10, QChar('0'));
    if (h > 0)
        return QString("%1:%2:%3").arg(h).arg(m, 2, 10, QChar('0')).arg(ss);
    return QString("%1:%2").arg(m).arg(ss);
}

void SeriesModel::update(const jobs::UnitRow& row) {
    const int at = rowOf(row.number);
    if (at >= 0) {
        rows_[static_cast<size_t>(at)].row = row;
        emit dataChanged(index(at, 0), index(at, ColumnCount - 1));
        return;
    }
    // Units start in order of their numbers: a new one goes last.
    const int last = static_cast<int>(rows_.size());
    beginInsertRows({}, last, last);
    rows_.push_back({row, false});
    endInsertRows();
}

void SeriesModel::clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

void SeriesModel::interrupt() {
    for (size_t i = 0; i < rows_.size(); ++i) {
        Entry& e = rows_[i];
        if (e.row.outcome != jobs::UnitOutcome::Running || e.interrupted)
            continue;
        e.interrupted = true;
        e.row.seconds = secondsOf(e.row);
        e.row.progress = e.row.progressMaximum = 0;
        const int r = static_cast<int>(i);
        emit dataChanged(index(r, 0), index(r, ColumnCount - 1));
    }
}

void SeriesModel::tick() {
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].row.outcome == jobs::UnitOutcome::Running && !rows_[i].interrupted)
            emit dataChanged(index(static_cast<int>(i), Time), index(static_cast<int>(i), Time), {Qt::DisplayRole});
}

const jobs::UnitRow* SeriesModel::row(int index) const {
    return index >= 0 && index < static_cast<int>(rows_.size()) ? &rows_[static_cast<size_t>(index)].row : nullptr;
}

int SeriesModel::rowOf(int number) const {
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].row.number == number)
            return static_cast<int>(i);
    return -1;
}

bool SeriesModel::uploading() const {
    return std::any_of(rows_.begin(), rows_.end(), [](const Entry& e) {
        return e.row.outcome == jobs::UnitOutcome::Running && !e.interrupted && e.row.progressMaximum > 0;
    });
}

int SeriesModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : static_cast<int>(rows_.size()); }

int SeriesModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant SeriesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size()))
        return {};
    const Entry& e = rows_[static_cast<size_t>(index.row())];
    const jobs::UnitRow& r = e.row;
    const int c = index.column();
    const bool running = r.outcome == jobs::UnitOutcome::Running && !e.interrupted;
    if (role == kProgressRole)
        return running ? r.progress : 0;
    if (role == kProgressMaximumRole)
        return running ? r.progressMaximum : 0;
    if (role == kProgressStepRole) {
        const std::optional<jobs::UnitStep> step = runningStep(r);
        return step ? QString(jobs::unitStepTitle(*step)) : QString();
    }
    if (role == Qt::TextAlignmentRole) {
        if (isStep(c))
            return int(Qt::AlignCenter);
        if (c == Number || c == Time)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    }
    if (role == Qt::ForegroundRole) {
        if (isStep(c)) {
            const jobs::StepMark m = r.marks[c - FirstStep];
            if (m == jobs::StepMark::Failed)
                return QBrush(kFailedColour);
            if (m == jobs::StepMark::Done)
                return QBrush(kDoneColour);
            return {};
        }
        if (c == Outcome) {
            if (r.outcome == jobs::UnitOutcome::Failed || e.interrupted)
                return QBrush(kFailedColour);
            if (r.outcome == jobs::UnitOutcome::Stopped)
                return QBrush(kStoppedColour);
            if (r.outcome == jobs::UnitOutcome::Done)
                return QBrush(kDoneColour);
        }
        return {};
    }
    if (role == Qt::ToolTipRole) {
        if (c == Outcome) {
            QString tip = outcomeText(r, e.interrupted);
            if (r.failedStep)
                tip = QString("Шаг «") + jobs::unitStepTitle(*r.failedStep) + "»: " + tip;
            if (!r.sheetFile.empty())
                tip += "\nЛист: " + text(r.sheetFile);
            return tip;
        }
        if (isStep(c))
            return QString(jobs::unitStepTitle(jobs::kUnitSteps[c - FirstStep]));
        return {};
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (c) {
    case Number:
        return r.number;
    case Port:
        return text(r.port);
    case Serial:
        return serialText(r.serial);
    case Type:
        return text(deviceTypeName(r.type));
    case Firmware:
        return firmwareText(r);
    case Outcome:
        return outcomeText(r, e.interrupted);
    case Time:
        return durationText(secondsOf(r));
    default:
        if (isStep(c))
            return markText(r.marks[c - FirstStep]);
    }
    return {};
}

QVariant SeriesModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Number:
        return "№";
    case Port:
        return "Порт";
    case Serial:
        return "Серийный номер";
    case Type:
        return "Тип";
    case Firmware:
        return "Версия ПО";
    case Outcome:
        return "Итог";
    case Time:
        return "Время";
    default:
        if (isStep(section))
            return jobs::unitStepTitle(jobs::kUnitSteps[section - FirstStep]);
    }
    return {};
}

void SeriesBarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const int maximum = index.data(SeriesModel::kProgressMaximumRole).toInt();
    if (index.column() != SeriesModel::Outcome || maximum <= 0) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const int value = std::clamp(index.data(SeriesModel::kProgressRole).toInt(), 0, maximum);
    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(2, 2, -2, -2);
    bar.minimum = 0;
    bar.maximum = maximum;
    bar.progress = value;
    bar.state = option.state | QStyle::State_Horizontal;
    bar.direction = option.direction;
    bar.fontMetrics = option.fontMetrics;
    bar.palette = option.palette;
    bar.textVisible = true;
    bar.textAlignment = Qt::AlignCenter;
    // The step and how far it got: "Прошивка 45 %".
    bar.text = index.data(SeriesModel::kProgressStepRole).toString() + " " + QString::number(value * 100 / maximum) + " %";
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    if (option.state & QStyle::State_Selected)
        painter->fillRect(option.rect, option.palette.highlight());
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
}
