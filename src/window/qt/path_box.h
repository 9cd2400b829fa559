#pragma once

#include <QLineEdit>

namespace quillmere {

// A one-line path box that also takes a file dropped from a file manager: the file's local
// path replaces the text, where a plain line edit would insert its file: URL.
class PathBox : public QLineEdit {
    Q_OBJECT

public:
    using QLineEdit::QLineEdit;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};

} // namespace quillmere
