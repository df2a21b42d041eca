# The page cutter alone, without the search stages.
set(tool_links search)
