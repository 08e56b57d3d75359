// Input rule of the IP address control: up to four dot-separated numbers
// 0-255.  What it hands over is made whole by IpControlText.
#pragma once

#include <QValidator>

namespace quellin::console {

class Ipv4Validator final : public QValidator {
    Q_OBJECT
public:
    using QValidator::QValidator;
    State validate(QString& input, int& position) const override;
};

}  // namespace quellin::console
