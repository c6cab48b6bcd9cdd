"""scanfit's companion tools: campaigns (scanfit-batch), quick-look figures
(scanfit-quicklook), and the module they share to read runs and campaigns
(runs)."""
