#pragma once

#include <QLineEdit>

namespace quillmere {

// A one-line path box that also takes a file dropped from a file manager: the file's local
// path replaces the text, where a plain line edit would insert its file: URL.
class PathBox : public QLineEdit {
    Q_OBJECT

public:
    using QLineEdit::QLineEdit;

signals:
    // A file was dropped on the box; its path is the box's text now.
    void fileDropped(const QString& path);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};

} // namespace quillmere
