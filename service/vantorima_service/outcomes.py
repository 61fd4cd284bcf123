"""The outcome words: what the launcher reports, the service stores and the page shows.

The launcher's list (support/TraceLines.h, LinkOutcome) and the page script's
(package/vantorima.js) hold the same words; tools/check-outcomes.py compares them.
"""

# The service's own word before any report.
PENDING = "pending"
# The launcher goes on after these and reports again.
UNDERWAY = ("installing", "renewing")
# Each verified link ends with exactly one of these.
FINAL = (
    "started",
    "failed",  # only from launchers installed before the failures had their own words
    "failed:stopped",
    "failed:download",
    "failed:installer",
    "failed:client",
    "refused:expired",
    "refused:used",
    "refused:declined",
    "refused:running",
    "refused:version",
    "refused:renewal",
    "refused:codepage",
    "refused:ledger",
)
# What a report may say.
REPORTED = UNDERWAY + FINAL
# Every state a page may read.
WORDS = (PENDING,) + REPORTED
# A second launcher that met a claimed nonce: says nothing of the first one's outcome.
USED = "refused:used"
