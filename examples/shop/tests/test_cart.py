from shop.cart import Cart


def test_total(price_list):
    cart = Cart(price_list)
    cart.add("apple", 2)
    cart.add("bread")
    assert cart.total() == 3.0


def test_total_with_discount(price_list):
    cart = Cart(price_list)
    cart.add("bread", 2)
    assert cart.total(discount=50) == 2.0
