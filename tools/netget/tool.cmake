# The page-fetch client alone: POSIX sockets, no Qt.
set(tool_links http)
