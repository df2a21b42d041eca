# The song store alone: SQLite, no Qt.
set(tool_links store)
