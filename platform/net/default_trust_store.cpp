// The program's default trust store: the system's CA bundle. This file defines defaultTrustStoreFile
// and nothing else, so a test binary's own definition (tests/support/hooks) takes its place.
#include "net/url_session.h"

namespace net {

std::string defaultTrustStoreFile()
{
    return "/etc/ssl/certs/ca-certificates.crt";
}

} // namespace net
