// The /metrics options: checked, and the endpoint they ask for.
#include "metrics_options.h"

#include <cerrno>
#include <iostream>

namespace vostrelle::tools {

std::optional<std::string> metrics_options::problem() const
{
    if (address.empty() || (parse_listen_address(address) && !token_file.empty()))
        return std::nullopt;
    return "--metrics takes ADDRESS:PORT (an IPv4 address), with --metrics-token-file, not '" + address + "'";
}

std::unique_ptr<metrics_endpoint> metrics_options::serve(metrics_endpoint::gather metrics) const
{
    if (address.empty())
        return nullptr;
    const listen_address where = *parse_listen_address(address); // checked by problem()
    if (!is_loopback(where))
        std::cerr << program_invocation_short_name
                  << ": warning: /metrics speaks plain HTTP: anyone on the network can read the metrics, and "
                     "the bearer token a scrape shows.\n";
    return std::make_unique<metrics_endpoint>(where, read_token_file(token_file), std::move(metrics));
}

} // namespace vostrelle::tools
