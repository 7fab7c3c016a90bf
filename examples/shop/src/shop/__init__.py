"""A tiny shop: prices, carts and receipts."""
