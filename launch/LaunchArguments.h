// The client's command line, built from the control's properties.
#pragma once

#include <string>

// Join key used when the page gives none.
constexpr const char kDefaultJoinKey[] = "1000";

struct LaunchArguments {
    // " /NAME:<id> /PASSWORD:<password argument> /JOINKEY:<key>", unquoted;
    // stored as SaveStart and given to the client.
    std::string arguments;
    // The client gets the arguments only when it has both a name and a
    // password argument; otherwise it starts with none.
    bool passToClient = false;
};

// The password argument: a 64-character value (already a token) as it is, an
// empty one empty, any other the token made from it. A password too long for
// a token counts as empty.
std::string PasswordArgument(const std::string& password);

LaunchArguments BuildLaunchArguments(const std::string& id, const std::string& password, const std::string& key);
