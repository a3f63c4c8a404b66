// Administrator checks: peer credentials on the local socket, PAM and the admin group elsewhere.
#include "access.h"

#include <grp.h>
#include <pwd.h>
#include <security/pam_appl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app_system.h"

namespace app {

namespace {

std::string &serverSocket() {
  static std::string path;
  return path;
}

// An account's entry (PAPPL serves each client on a thread of its own: the reentrant lookups).
struct Account {
  passwd entry{};
  std::vector<char> text = std::vector<char>(16384);
};

bool findAccount(uid_t uid, const char *name, Account &account) {
  passwd *found = nullptr;
  if (name)
    getpwnam_r(name, &account.entry, account.text.data(), account.text.size(), &found);
  else
    getpwuid_r(uid, &account.entry, account.text.data(), account.text.size(), &found);
  return found != nullptr;
}

// uid is root, the server's own user, or a member of the admin group.
bool isAdministrator(uid_t uid, pappl_system_t *system) {
  if (uid == 0 || uid == geteuid()) return true;
  char name[256] = "";
  if (!papplSystemGetAdminGroup(system, name, sizeof name) || !*name) return false;
  group admins{};
  group *found = nullptr;
  std::vector<char> text(65536);
  Account user;
  if (getgrnam_r(name, &admins, text.data(), text.size(), &found) != 0 || !found ||
      !findAccount(uid, nullptr, user))
    return false;
  int count = 64;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  if (getgrouplist(user.entry.pw_name, user.entry.pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<size_t>(count));
    if (getgrouplist(user.entry.pw_name, user.entry.pw_gid, groups.data(), &count) < 0)
      return false;
  }
  for (int i = 0; i < count; i++)
    if (groups[static_cast<size_t>(i)] == admins.gr_gid) return true;
  return false;
}

// PAM's conversation: the password for every hidden prompt.
int answerPam(int count, const pam_message **messages, pam_response **responses, void *password) {
  auto *answers =
      static_cast<pam_response *>(std::calloc(static_cast<size_t>(count), sizeof(pam_response)));
  if (!answers) return PAM_BUF_ERR;
  for (int i = 0; i < count; i++)
    if (messages[i]->msg_style == PAM_PROMPT_ECHO_OFF)
      answers[i].resp = strdup(static_cast<const char *>(password));
  *responses = answers;
  return PAM_SUCCESS;
}

bool passwordMatches(const char *service, const std::string &user, const std::string &password) {
  pam_conv conversation = {answerPam, const_cast<char *>(password.c_str())};
  pam_handle_t *pam = nullptr;
  if (pam_start(service, user.c_str(), &conversation, &pam) != PAM_SUCCESS) return false;
  int status = pam_authenticate(pam, PAM_SILENT);
  if (status == PAM_SUCCESS) status = pam_acct_mgmt(pam, PAM_SILENT);
  pam_end(pam, status);
  return status == PAM_SUCCESS;
}

// A network client: HTTP Basic credentials of an administrator.
http_status_t networkAdminStatus(pappl_client_t *client, http_t *http) {
  const http_addr_t *address = httpGetAddress(http);
  if (!httpAddrLocalhost(address) && !papplClientIsEncrypted(client))
    return HTTP_STATUS_UPGRADE_REQUIRED;
  const char *authorization = httpGetField(http, HTTP_FIELD_AUTHORIZATION);
  if (!authorization || std::strncmp(authorization, "Basic ", 6) != 0)
    return HTTP_STATUS_UNAUTHORIZED;
  char decoded[512];
  int length = sizeof decoded - 1;
  httpDecode64_2(decoded, &length, authorization + 6);
  decoded[std::max(0, std::min(length, static_cast<int>(sizeof decoded) - 1))] = '\0';
  const char *colon = std::strchr(decoded, ':');
  if (!colon) return HTTP_STATUS_UNAUTHORIZED;
  const std::string user(decoded, static_cast<size_t>(colon - decoded)), password(colon + 1);
  pappl_system_t *system = papplClientGetSystem(client);
  const char *service = papplSystemGetAuthService(system);
  Account account;
  if (!service || !findAccount(0, user.c_str(), account) ||
      !passwordMatches(service, user, password))
    return HTTP_STATUS_UNAUTHORIZED;
  if (!isAdministrator(account.entry.pw_uid, system)) return HTTP_STATUS_FORBIDDEN;
  papplClientSetUsername(client, user.c_str());
  return HTTP_STATUS_CONTINUE;
}

// Operations open to every client: printing, one's own jobs and reading state.
bool openOperation(ipp_op_t op) {
  switch (op) {
    case IPP_OP_PRINT_JOB:
    case IPP_OP_VALIDATE_JOB:
    case IPP_OP_CREATE_JOB:
    case IPP_OP_SEND_DOCUMENT:
    case IPP_OP_CLOSE_JOB:
    case IPP_OP_VALIDATE_DOCUMENT:
    case IPP_OP_GET_JOB_ATTRIBUTES:
    case IPP_OP_GET_JOBS:
    case IPP_OP_GET_PRINTER_ATTRIBUTES:
    case IPP_OP_GET_PRINTERS:
    case IPP_OP_GET_SYSTEM_ATTRIBUTES:
    case IPP_OP_IDENTIFY_PRINTER:
    case IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS:
    case IPP_OP_CREATE_JOB_SUBSCRIPTIONS:
    case IPP_OP_GET_SUBSCRIPTION_ATTRIBUTES:
    case IPP_OP_GET_SUBSCRIPTIONS:
    case IPP_OP_RENEW_SUBSCRIPTION:
    case IPP_OP_CANCEL_SUBSCRIPTION:
    case IPP_OP_GET_NOTIFICATIONS:
      return true;
    default:
      return false;
  }
}

// A job's owner cancels it as its requesting user.
bool ownJob(pappl_client_t *client) {
  ipp_t *request = papplClientGetRequest(client);
  pappl_printer_t *printer = papplClientGetPrinter(client);
  ipp_attribute_t *id = ippFindAttribute(request, "job-id", IPP_TAG_INTEGER);
  ipp_attribute_t *user = ippFindAttribute(request, "requesting-user-name", IPP_TAG_NAME);
  pappl_job_t *job = printer && id ? papplPrinterFindJob(printer, ippGetInteger(id, 0)) : nullptr;
  const char *owner = job ? papplJobGetUsername(job) : nullptr;
  return owner && user && std::strcmp(owner, ippGetString(user, 0, nullptr)) == 0;
}

}  // namespace

http_status_t requestStatus(pappl_client_t *client) {
  const ipp_op_t op = papplClientGetOperation(client);
  if (openOperation(op) || (op == IPP_OP_CANCEL_JOB && ownJob(client))) return HTTP_STATUS_CONTINUE;
  return adminStatus(client);
}

std::string localSocketPath(const std::string &stateDirectory) {
  return stateDirectory + "/" + kAppName + ".sock";
}

void setServerSocket(const std::string &path) {
  serverSocket() = path;
}

const std::string &serverSocketPath() {
  return serverSocket();
}

http_status_t adminStatus(pappl_client_t *client) {
  http_t *http = papplClientGetHTTP(client);
  const http_addr_t *address = httpGetAddress(http);
  if (!address || httpAddrFamily(const_cast<http_addr_t *>(address)) != AF_LOCAL)
    return networkAdminStatus(client, http);
  ucred peer{};
  socklen_t size = sizeof peer;
  if (getsockopt(httpGetFd(http), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
    return HTTP_STATUS_FORBIDDEN;
  return isAdministrator(peer.uid, papplClientGetSystem(client)) ? HTTP_STATUS_CONTINUE
                                                                 : HTTP_STATUS_FORBIDDEN;
}

}  // namespace app
