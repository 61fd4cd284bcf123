"""Which Host header a request may carry: a page of another name that
resolves to this service (DNS rebinding) gets nothing."""
import ipaddress


def split_host(value):
    """(name, port or None) of a Host header's value, lowercase; ("", None) when unreadable."""
    value = (value or "").strip().lower()
    if value.startswith("["):
        name, bracket, rest = value[1:].partition("]")
        if not bracket or (rest and not rest.startswith(":")):
            return "", None
        port = rest[1:] if rest else None
        name = "[" + name + "]"
    else:
        name, colon, port = value.partition(":")
        port = port if colon else None
    if port is not None and (not port.isdigit() or len(port) > 5):
        return "", None
    return name, (int(port) if port is not None else None)


def default_hosts(address, port):
    """Without --host: the address listened on, and localhost for a loopback one."""
    try:
        ip = ipaddress.ip_address(address)
    except ValueError:
        return [f"{address}:{port}".lower()]
    if ip.is_unspecified:
        raise ValueError("listening on every address needs --host NAME for the names the service answers")
    name = f"[{ip.compressed}]" if ip.version == 6 else ip.compressed
    hosts = [f"{name}:{port}"]
    if ip.is_loopback:
        hosts.append(f"localhost:{port}")
    return hosts


def allowed(header, hosts):
    """True when the Host header names one of hosts: "name:port" exactly, or
    "name" with any port (or none), as a proxy may pass it either way."""
    name, port = split_host(header)
    if not name:
        return False
    for entry in hosts:
        entry_name, entry_port = split_host(entry)
        if entry_name == name and (entry_port is None or entry_port == port):
            return True
    return False
