// Network: transfers, downloads and the web API client.
