// CScreenHeader: the band at the top of every window with the product name, or the product
// name, " - " and the screen's title, drawn large.
#pragma once

#include <QWidget>

namespace kfr::ui {

class CScreenHeader : public QWidget {
    Q_OBJECT
public:
    explicit CScreenHeader(const QString& screenTitle = {}, QWidget* parent = nullptr);
    const QString& text() const { return m_text; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
};

}  // namespace kfr::ui
