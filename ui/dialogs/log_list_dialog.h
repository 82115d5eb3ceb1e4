// The frame shared by the event log and system log dialogs: a modeless window with the day's
// list, Play, OK and Cancel. Play posts kMsgPlayFrom with the selected row's time; OK, Cancel
// and the close box post the dialog's closing message to the owner and close it.
#pragma once

#include <QStringList>

#include <cstdint>

#include "ui/dialog_frame.h"

class QTreeWidget;

namespace ui {

class LogListDialog : public DialogFrame {
    Q_OBJECT
public:
    enum Control : int { kIdList = 1026, kIdPlay = 1038, kIdOk = 1, kIdCancel = 2 };

    QTreeWidget* list() const { return list_; }
    // The selected row's time; false when no row is selected.
    bool selected_time(uint32_t* time) const;
    void play();

protected:
    LogListDialog(QObject* owner, int closed_message, const QString& title,
                  const QStringList& columns, const QList<int>& widths, QWidget* parent);
    // A row of the list with the time Play starts from.
    void add_row(const QStringList& cells, uint32_t time);
    // Whether Play may start from `time`.
    virtual bool playable(uint32_t time) const { return time != 0; }
    // Where the dialog first opens: left (-1) or right (+1) of its owner window's middle, so
    // that the two log dialogs open side by side instead of one over the other.
    virtual int side() const = 0;
    void done(int result) override;
    void showEvent(QShowEvent* event) override;

private:
    void place_beside_owner();

    bool placed_ = false;
    QObject* owner_;
    int closed_message_;
    QTreeWidget* list_ = nullptr;
};

} // namespace ui
