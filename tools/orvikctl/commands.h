#pragma once
// The commands, each a function of the context and the parsed invocation, returning the
// exit code.

#include "tools/orvikctl/command_line.h"
#include "tools/orvikctl/context.h"

namespace orvikctl {

// Service (service_commands.cpp).
int statusCommand(Context& context, const Invocation& invocation);
int connectCommand(Context& context, const Invocation& invocation);
int disconnectCommand(Context& context, const Invocation& invocation);
int shutdownCommand(Context& context, const Invocation& invocation);

// Session and account (account_commands.cpp, register_command.cpp).
int loginCommand(Context& context, const Invocation& invocation);
int logoutCommand(Context& context, const Invocation& invocation);
int accountCommand(Context& context, const Invocation& invocation);
int registerCommand(Context& context, const Invocation& invocation);

// Shop (shop_commands.cpp).
int plansCommand(Context& context, const Invocation& invocation);
int buyCommand(Context& context, const Invocation& invocation);
int orderCommand(Context& context, const Invocation& invocation);

}  // namespace orvikctl
