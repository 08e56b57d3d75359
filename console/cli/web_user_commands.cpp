// web-user: the logins of the web view, in the installation's htpasswd
// file.  The password comes from standard input (its first line), never
// from the command line, where other users could read it.
#include "codec.h"
#include "command.h"
#include "web_users.h"

#include <iostream>
#include <ostream>

namespace quellin::cli {
namespace {

int WebUser(CommandContext& c) {
    const auto& operands = c.operands();
    if (operands.size() != 2 || (operands[0] != "add" && operands[0] != "remove"))
        return c.Usage("web-user takes add NAME or remove NAME");
    const std::string& name = operands[1];
    if (!console::IsWebUserName(name))
        return c.Usage("a web user's name is 1 to 64 bytes without \":\"");
    Result<void> done;
    if (operands[0] == "add") {
        std::string password;
        char ch = 0;
        while (password.size() <= console::kMaxWebPassword && std::cin.get(ch) && ch != '\n')
            password += ch;
        if (!password.empty() && password.back() == '\r')
            password.pop_back();
        if (password.empty() || password.size() > console::kMaxWebPassword)
            return c.Usage(
                "give the password (1 to 256 bytes) as the first line of standard input");
        done = console::AddWebUser(c.Home(), name, password);
    } else {
        done = console::RemoveWebUser(c.Home(), name);
    }
    if (!done)
        return c.Fail(cp932::ToUtf8Lossy(OneLineDetail(done.error())));
    return kExitOk;
}

}  // namespace

std::vector<Command> WebUserCommands() {
    // clang-format off
    return {
        {"web-user",
         "usage: quellin web-user (add NAME | remove NAME) [--home DIR]\n"
         "The logins of the web view.  add reads the password from the first line of\n"
         "standard input and adds the user or gives it the new password.\n",
         {"home"}, {}, false, WebUser},
    };
    // clang-format on
}

}  // namespace quellin::cli
