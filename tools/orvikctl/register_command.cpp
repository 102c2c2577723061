// register: asks for what the panel's registration options require, with the client's
// checks and texts, then registers (which also signs in).
#include <ostream>

#include "tools/orvikctl/commands.h"

namespace orvikctl {
namespace {

constexpr size_t kMinimumPasswordLength = 8;

size_t codePoints(const std::string& text) {
    size_t count = 0;
    for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0u) != 0x80u ? 1 : 0;
    return count;
}

struct Registration {
    std::string email;
    std::string password;
    std::string invite;
    std::string emailCode;
};

// The password: twice at a terminal, once from standard input. 0 when read, else an exit code.
int readPassword(Context& context, std::string& password) {
    if (!context.readAnswer("Password: ", false, password))
        return context.usage("register", "no password given");
    if (context.io().interactive) {
        std::string again;
        if (!context.readAnswer("Repeat password: ", false, again)) return context.usage("register", "no password given");
        if (again != password) return context.fail("两次密码不一致");
    }
    if (codePoints(password) < kMinimumPasswordLength) return context.fail("密码至少 8 位");
    return kExitOk;
}

// E-mail address, password and invite code; 0 when complete, else an exit code.
int collectAnswers(Context& context, const Invocation& invocation, const vpn::RegisterOptions& options,
                   Registration& registration) {
    if (!invocation.arguments.empty()) {
        registration.email = trimmed(invocation.arguments[0]);
    } else if (!context.readAnswer("E-mail: ", true, registration.email)) {
        return context.usage("register", "no e-mail address given");
    }
    registration.email = trimmed(registration.email);
    if (registration.email.empty()) return context.usage("register", "no e-mail address given");
    if (options.emailVerify && registration.email.find('@') == std::string::npos) return context.fail("请先填写邮箱");
    if (const int code = readPassword(context, registration.password); code != kExitOk) return code;
    registration.invite = trimmed(invocation.invite);
    if (options.inviteForce && registration.invite.empty()) {
        if (!context.readAnswer("Invite code: ", true, registration.invite))
            return context.usage("register", "no invite code given");
        registration.invite = trimmed(registration.invite);
        if (registration.invite.empty()) return context.fail("请填写邀请码");
    }
    return kExitOk;
}

// Has the panel mail a code and asks for it; 0 when read, else an exit code.
int readEmailCode(Context& context, Registration& registration) {
    std::string error;
    if (!context.controlPlane().sendRegisterEmail(registration.email, error))
        return context.fail(error.empty() ? "验证码发送失败" : error);
    context.note("A verification code was sent to " + registration.email + ".");
    if (!context.readAnswer("E-mail code: ", true, registration.emailCode))
        return context.usage("register", "no e-mail code given");
    registration.emailCode = trimmed(registration.emailCode);
    if (registration.emailCode.empty()) return context.fail("请填写邮箱验证码");
    return kExitOk;
}

}  // namespace

int registerCommand(Context& context, const Invocation& invocation) {
    vpn::RegisterOptions options;
    std::string error;
    if (!context.controlPlane().fetchRegisterOptions(options, error))
        return context.fail(error.empty() ? "注册失败" : error);
    if (options.recaptcha) return context.fail("面板开启了人机验证，请到网站注册");
    Registration registration;
    if (const int code = collectAnswers(context, invocation, options, registration); code != kExitOk) return code;
    if (options.emailVerify) {
        if (const int code = readEmailCode(context, registration); code != kExitOk) return code;
    }
    if (!context.controlPlane().registerAccount(registration.email, registration.password, registration.invite,
                                                registration.emailCode, error))
        return context.fail(error.empty() ? "注册失败" : error);
    if (context.json()) {
        Json result = Json::object();
        result["email"] = registration.email;
        context.printJson(result);
    } else {
        context.io().out << "Registered and signed in as " << registration.email << ".\n";
    }
    return kExitOk;
}

}  // namespace orvikctl
