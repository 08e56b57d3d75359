// A one-line label that ends its text with an ellipsis when it is too long.
#pragma once

#include <QLabel>

namespace quellin::console {

class ElidedLabel final : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

    // The text as it is drawn now.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace quellin::console
