#include "windows/LinkLogModel.h"


#include <vector>

LinkLogModel::LinkLogModel(const evb::LinkLog& log, QObject* parent) : QAbstractTableModel(parent), m_log(log) {}

int LinkLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_numbers.size());
}

int LinkLogModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

const evb::LinkEntry* LinkLogModel::entryAt(int row) const {
    if (row < 0 || row >= static_cast<int>(m_numbers.size())) return nullptr;
    return m_log.find(m_numbers[static_cast<std::size_t>(row)]);
}

QVariant LinkLogModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole) return {};
    const evb::LinkEntry* e = entryAt(index.row());
    if (!e) return {};
    switch (index.column()) {
    case kTime:
        return QString::fromStdString(evb::FormatLinkTime(e->timeMs));
    case kDirection:
        return QString::fromLatin1(evb::LinkDirectionName(e->direction));
    case kBytes:
        return QString::fromStdString(evb::FormatLinkBytes(e->bytes));
    case kMeaning:
        return QString::fromStdString(e->meaning);
    default:
        return {};
    }
}

QVariant LinkLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* const kTitles[kColumnCount] = {"Time", "Dir", "Bytes", "Meaning"};
    return section >= 0 && section < kColumnCount ? QString::fromLatin1(kTitles[section]) : QVariant();
}

bool LinkLogModel::passes(const evb::LinkEntry& e) const {
    switch (e.direction) {
    case evb::LinkDirection::Tx:
        return m_tx;
    case evb::LinkDirection::Rx:
        return m_rx;
    case evb::LinkDirection::Event:
        return m_events;
    }
    return false;
}

void LinkLogModel::setShown(bool tx, bool rx, bool events) {
    m_tx = tx;
    m_rx = rx;
    m_events = events;
    rebuild();
}

void LinkLogModel::rebuild() {
    beginResetModel();
    m_numbers.clear();
    m_seen = 0;
    endResetModel();
    refresh();
}

void LinkLogModel::refresh() {
    // Rows of entries the ring has dropped (or that were cleared) go first.
    std::size_t gone = 0;
    while (gone < m_numbers.size() && m_log.find(m_numbers[gone]) == nullptr)
        ++gone;
    if (gone > 0) {
        beginRemoveRows({}, 0, static_cast<int>(gone) - 1);
        m_numbers.erase(m_numbers.begin(), m_numbers.begin() + static_cast<std::ptrdiff_t>(gone));
        endRemoveRows();
    }
    const std::uint64_t last = m_log.appended();
    const std::uint64_t first = last - m_log.size() + 1; // oldest entry kept
    std::vector<std::uint64_t> fresh;
    for (std::uint64_t n = std::max(m_seen + 1, first); n <= last; ++n)
        if (const evb::LinkEntry* e = m_log.find(n); e && passes(*e)) fresh.push_back(n);
    m_seen = last;
    if (fresh.empty()) return;
    const int at = static_cast<int>(m_numbers.size());
    beginInsertRows({}, at, at + static_cast<int>(fresh.size()) - 1);
    m_numbers.insert(m_numbers.end(), fresh.begin(), fresh.end());
    endInsertRows();
}
