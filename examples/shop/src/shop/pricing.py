TAX_RATE = 0.2


def net_price(gross):
    return round(gross / (1 + TAX_RATE), 2)


def discounted(price, percent):
    return round(price * (100 - percent) / 100, 2)


class PriceList:
    def __init__(self, prices):
        self.prices = dict(prices)

    def price_of(self, item):
        return self.prices[item]
