# The HTML tokenizer and page object alone.
set(tool_links download_html)
