from shop.pricing import PriceList, discounted


class Cart:
    def __init__(self, price_list: PriceList):
        self.price_list = price_list
        self.items = []

    def add(self, item, quantity=1):
        self.items.extend([item] * quantity)

    def total(self, discount=0):
        subtotal = sum(self.price_list.price_of(item) for item in self.items)
        return discounted(subtotal, discount)
