#pragma once

// CHexEdit: the control behind both data panes.
#include <QAbstractScrollArea>

class CHexEdit : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit CHexEdit(QWidget* parent = nullptr);
};
