#include "path_box.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace quillmere {
namespace {

QString droppedLocalFile(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls() || data->urls().isEmpty())
        return {};
    const QUrl& url = data->urls().constFirst();
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

} // namespace

void PathBox::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedLocalFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        QLineEdit::dragEnterEvent(event);
}

void PathBox::dragMoveEvent(QDragMoveEvent* event) {
    if (!droppedLocalFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        QLineEdit::dragMoveEvent(event);
}

void PathBox::dropEvent(QDropEvent* event) {
    const QString path = droppedLocalFile(event->mimeData());
    if (path.isEmpty()) {
        QLineEdit::dropEvent(event);
        return;
    }
    setText(path);
    setFocus(Qt::MouseFocusReason);
    event->acceptProposedAction();
    emit fileDropped(path);
}

} // namespace quillmere
