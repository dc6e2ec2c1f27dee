#pragma once
// A table model over the link log's ring: one row per entry that passes the direction filter,
// oldest first. It holds entry numbers only; the texts are made when the view asks for them.
// refresh() drops rows whose entries the ring has let go and appends the new ones, so a
// refresh costs what changed, not the size of the log.
//
// Threading: UI thread, like the link log.

#include "protocol/LinkLog.h"

#include <QAbstractTableModel>

#include <cstdint>
#include <deque>

class LinkLogModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { kTime, kDirection, kBytes, kMeaning, kColumnCount };

    explicit LinkLogModel(const evb::LinkLog& log, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    void setShown(bool tx, bool rx, bool events); // rebuilds the rows
    void refresh();
    void rebuild();
    // The entry of a row, null when the ring no longer holds it.
    const evb::LinkEntry* entryAt(int row) const;

  private:
    bool passes(const evb::LinkEntry& e) const;

    const evb::LinkLog& m_log;
    std::deque<std::uint64_t> m_numbers;
    std::uint64_t m_seen = 0; // highest entry number looked at
    bool m_tx = true;
    bool m_rx = true;
    bool m_events = true;
};
