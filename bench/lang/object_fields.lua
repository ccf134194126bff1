local function main(n)
  local o = {x = 0, y = 0}
  for i = 1, n do
    o.x = o.x + 1
    o.y = (o.y + o.x) % 1000
  end
  return o.x + o.y
end
print(main(8000000))
